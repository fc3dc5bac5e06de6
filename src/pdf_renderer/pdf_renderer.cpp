// The PDF renderer module: the PDF library behind the interface of pdf_renderer_api.h.
#include "pdf_renderer/pdf_renderer_api.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <memory>
#include <mutex>
#include <poppler/qt6/poppler-qt6.h>

struct FxPdfDocument {
  std::unique_ptr<Poppler::Document> doc;
};

namespace {

// The renderer's own complaints about damaged documents would only clutter the program's output: a document
// that cannot be read is reported by the result of FxPdfOpen.
void quiet(const QString &, const QVariant &) {}

} // namespace

#define FX_EXPORT extern "C" __attribute__((visibility("default")))

FX_EXPORT FxPdfDocument *FxPdfOpen(const QByteArray *bytes, const char **error) {
  static std::once_flag once;
  std::call_once(once, [] { Poppler::setDebugErrorFunction(quiet, QVariant()); });
  auto d = std::make_unique<FxPdfDocument>();
  d->doc = Poppler::Document::loadFromData(*bytes);
  if (!d->doc) {
    *error = "not a readable PDF document";
    return nullptr;
  }
  if (d->doc->isLocked()) {
    *error = "the document is protected by a password";
    return nullptr;
  }
  d->doc->setRenderBackend(Poppler::Document::SplashBackend);
  d->doc->setRenderHint(Poppler::Document::Antialiasing, true);
  d->doc->setRenderHint(Poppler::Document::TextAntialiasing, true);
  return d.release();
}

FX_EXPORT int FxPdfPageCount(FxPdfDocument *d) { return d->doc->numPages(); }

FX_EXPORT bool FxPdfPageSize(FxPdfDocument *d, int index, double *width, double *height) {
  std::unique_ptr<Poppler::Page> page = d->doc->page(index);
  if (!page)
    return false;
  const QSizeF size = page->pageSizeF();
  *width = size.width();
  *height = size.height();
  return true;
}

FX_EXPORT bool FxPdfRender(FxPdfDocument *d, int index, double dpi, int x, int y, int w, int h, bool transparentPaper,
                           QImage *out) {
  Poppler::Document &doc = *d->doc;
  doc.setRenderHint(Poppler::Document::IgnorePaperColor, transparentPaper);
  doc.setPaperColor(transparentPaper ? QColor(Qt::transparent) : QColor(Qt::white));
  std::unique_ptr<Poppler::Page> page = doc.page(index);
  if (!page)
    return false;
  *out = page->renderToImage(dpi, dpi, x, y, w, h);
  return !out->isNull();
}

FX_EXPORT void FxPdfClose(FxPdfDocument *d) { delete d; }
