// The PDF renderer module: the PDF library is loaded with it when the first PDF document is read, so programs that
// never meet one do not load that library (and the libraries it needs) at every start.
#pragma once

class QByteArray;
class QImage;

extern "C" {

struct FxPdfDocument; // a loaded document

// Reads the document held in bytes; nullptr, and *error (a fixed text), when it cannot be read.
using FxPdfOpenFunction = FxPdfDocument *(*)(const QByteArray *bytes, const char **error);
// The number of pages, and the size of page index in points with its own rotation applied (false: no such page).
using FxPdfPageCountFunction = int (*)(FxPdfDocument *doc);
using FxPdfPageSizeFunction = bool (*)(FxPdfDocument *doc, int index, double *width, double *height);
// Renders the part (x, y, w, h) of page index drawn at dpi into *out: on white paper, or with the paper left
// transparent. false when the renderer gives nothing. One document is never rendered by two threads at once.
using FxPdfRenderFunction = bool (*)(FxPdfDocument *doc, int index, double dpi, int x, int y, int w, int h,
                                     bool transparentPaper, QImage *out);
using FxPdfCloseFunction = void (*)(FxPdfDocument *doc);
}

// The module's file, beside the programs, and its exports.
inline constexpr const char *kPdfRendererModule = "fxPdfRender.so";
inline constexpr const char *kPdfOpen = "FxPdfOpen";
inline constexpr const char *kPdfPageCount = "FxPdfPageCount";
inline constexpr const char *kPdfPageSize = "FxPdfPageSize";
inline constexpr const char *kPdfRender = "FxPdfRender";
inline constexpr const char *kPdfClose = "FxPdfClose";
