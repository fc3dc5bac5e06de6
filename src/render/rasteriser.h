// The page rasteriser: one captured page (an enhanced metafile or a PDF page) to a raster image at a resolution,
// scale and supersampling factor, drawn in bands.
#pragma once

#include "emf/metafile.h"
#include "render/encoding.h"
#include "render/page_source.h"
#include "render/rgb_page.h"

#include <Magick++.h>
#include <atomic>
#include <functional>
#include <optional>
#include <string>

using MagickCore::Quantum;

namespace render {

// Receives the render's progress: range 0..n, then position i before band i. Called on the rendering thread while
// the render lock is held: an implementation must not wait for a thread that may itself be waiting to render
// (post to the GUI thread, do not block on it).
class RenderProgress {
public:
  virtual ~RenderProgress() = default;
  virtual void setRange(int low, int high) = 0;
  virtual void setPosition(int pos) = 0;
};

// What one caller asks of one render. The thumbnail flag and the output mode belong to the call, so they
// cannot leak from one caller (the GUI thread) into another (the export worker).
struct RenderOptions {
  bool thumbnail = false;
  int outputMode = 0; // 0 single image files, 1 PDF, 2 multipage TIFF, 3 multipage GIF
  RenderProgress *progress = nullptr;
  // The format of the page images inside a PDF (output mode 1); when absent the stored "PDF_Bitmp_Format" is read.
  std::optional<std::string> pdfInsideFormat = std::nullopt;
  // Tested before every band: when it is set the render stops there and returns an empty image.
  const std::atomic<bool> *abort = nullptr;
  // Output mode 0 writes the page to the current-image file and returns it as read back from there (what the
  // preview shows). Without the file the page is returned as drawn, with its format options, for the caller to
  // encode; such renders of metafile pages run in parallel with any other render.
  bool currentImageFile = true;
  // When given, receives this render's own numbers (lastRenderRecord() holds those of whichever render ended last).
  struct RenderRecord *record = nullptr;
};

// Renders the page; pageIndex only selects the page's rotation (see setPageRotationSource).
// Renders that write the current-image file or draw a PDF page run one at a time; the others keep all their state
// to themselves and run in parallel. Image library exceptions reach the caller. A page whose size
// cannot be drawn (empty or absurd frame, band memory not available), a page larger than the format it is written
// in can hold (refused before any drawing, with a message through the message hook) and an aborted render give an
// empty image (no pixels); lastRenderRecord().failure says why.
// A metafile handle converts to a page source, so metafile pages are passed as they are.
Magick::Image RenderPage(double resolution, const PageSource &page, int pageIndex, const RenderOptions &options = {});

// Renders the page for writing into a file (options.currentImageFile is not used), turned by angle degrees. When the
// format of the output mode keeps true colour (RgbPageSuits: the default format of image files, or the "JPG",
// "PNG", "TIF" or "BMP" images of a PDF) and the page is not sharpened and not turned, it comes as an 8-bit page with
// its format options and never passes through the image library; otherwise as RenderPage gives it (then turned).
// An empty page when RenderPage would give an empty image.
RenderedPage RenderPageForWriting(double resolution, const PageSource &page, double angle,
                                  const RenderOptions &options = {});

// The page store tells the rasteriser how to find a page's rotation in degrees (0 when not set).
void setPageRotationSource(std::function<double(int pageIndex)> source);

// Where the rasteriser's messages ("q == (PixelPacket *) NULL", a page too large for its format) go; the GUI shows
// them in a message box.
// Without a hook it is written to stderr.
void setRenderMessageHook(std::function<void(const std::string &message)> hook);

// Numbers recorded by the last render.
struct RenderRecord {
  int widthMm = 0; // ceil of the unscaled frame width in mm (rounded to the nearest mm for a PDF page)
  int heightMm = 0;
  int fileKb = 0; // size of the temporary image file, in KB
  // Where the last render spent its time, in milliseconds of processor time of the rendering thread: background
  // and stamp, metafile playback, transfer into the image (averaging), and the finishing steps (format options,
  // sharpening, rotation, file).
  double backgroundMs = 0;
  double playMs = 0;
  double averageMs = 0;
  double finishMs = 0;
  // Why the last render returned an empty image (empty when it did not).
  std::string failure;
};
RenderRecord lastRenderRecord();
// Processor time used by the calling thread so far, in milliseconds (the clock of the record above).
double ThreadCpuMilliseconds();

// Output size in pixels of a page with the given frame (0.01 mm) at resolution r (not above 0 means 72) and
// scale in percent. Exposed for the resolution dialog and the tests.
struct PageSize {
  long long cols = 0;
  long long rows = 0;
};
PageSize OutputSize(const emf::RECTL &frame, double resolution, int scalePercent);
// The same for a frame of width x height in 0.01 mm.
PageSize OutputSize(double width, double height, double resolution, int scalePercent);

// How a page of the given output rows is cut into bands for supersampling factor f.
struct BandPlan {
  int S = 1;          // effective factor
  int K = 200;        // band height in output rows
  int B = 200;        // band height in supersampled rows (K x S)
  int n = 1;          // number of bands (the last may be empty)
  int lastHeight = 0; // supersampled rows of the last band; below 1 means it is not drawn
  int heightOf(int i) const { return i + 1 < n ? B : lastHeight; }
};
BandPlan PlanBands(long long rows, int factor, bool thumbnail);

// A PDF page is drawn by its renderer in slices of whole bands, each at most this many supersampled pixels (at
// least one band; a band wider than that is drawn in tiles side by side), so the memory a render takes stays
// bounded whatever the factor. A letter or A4 page at 300 dpi without supersampling is one slice.
inline constexpr long long kPdfSlicePixels = 12LL * 1024 * 1024;

// Largest page the rasteriser accepts, in output pixels (beyond it RenderPage returns an empty image).
inline constexpr long long kMaxOutputPixels = 400LL * 1000 * 1000;
inline constexpr long long kMaxOutputSide = 200000;

// The largest side in pixels an image of this format can be written with (its encoder's own limit).
long long FormatSideLimit(FormatCode code);
// Why a page of cols x rows output pixels cannot be written in the format of this output mode (empty when it can):
// mode 0 the default format, 1 the PDF inside format (pdfFormat), 3 GIF.
std::string EncoderRefusal(long long cols, long long rows, int outputMode, const Settings &s,
                           const std::optional<std::string> &pdfFormat = std::nullopt);

// The path of the temporary image file for the current default format: work folder + "~CurImg" + extension.
std::string CurrentImageFilePath();

} // namespace render
