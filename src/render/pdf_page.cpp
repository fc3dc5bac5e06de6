#include "render/pdf_page.h"

#include <poppler/qt6/poppler-qt6.h>

#include <cmath>
#include <mutex>

namespace render {

struct PdfPage::Document {
  std::unique_ptr<Poppler::Document> doc;
  std::mutex lock; // the renderer of one document is not safe for two threads at once
};

namespace {

constexpr double kHundredthsMmPerPoint = 2540.0 / 72.0;

bool usableSize(const QSizeF &s) {
  // A page of more than 200 inches a side is no printed page; its size would only overflow later arithmetic.
  return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() > 0 && s.height() > 0 &&
         s.width() <= 72.0 * 200 && s.height() <= 72.0 * 200;
}

// The renderer's own complaints about damaged documents would only clutter the program's output: a document
// that cannot be read is reported by LoadDocument's result.
void quiet(const QString &, const QVariant &) {}

} // namespace

std::vector<HPDFPAGE> PdfPage::LoadDocument(const QByteArray &bytes, std::string *error) {
  static std::once_flag once;
  std::call_once(once, [] { Poppler::setDebugErrorFunction(quiet, QVariant()); });
  auto fail = [&](const char *why) {
    if (error)
      *error = why;
    return std::vector<HPDFPAGE>();
  };
  if (bytes.size() > kMaxDocumentBytes)
    return fail("the document is too large");
  auto doc = std::make_shared<Document>();
  doc->doc = Poppler::Document::loadFromData(bytes);
  if (!doc->doc)
    return fail("not a readable PDF document");
  if (doc->doc->isLocked())
    return fail("the document is protected by a password");
  doc->doc->setRenderBackend(Poppler::Document::SplashBackend);
  doc->doc->setRenderHint(Poppler::Document::Antialiasing, true);
  doc->doc->setRenderHint(Poppler::Document::TextAntialiasing, true);
  const int n = doc->doc->numPages();
  if (n < 1)
    return fail("the document has no pages");
  if (n > kMaxPages)
    return fail("the document has too many pages");
  std::vector<HPDFPAGE> pages;
  pages.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    std::unique_ptr<Poppler::Page> page = doc->doc->page(i);
    const QSizeF size = page ? page->pageSizeF() : QSizeF();
    if (!usableSize(size))
      return fail("a page of the document has no usable size");
    pages.push_back(std::make_shared<const PdfPage>(doc, i, size));
  }
  return pages;
}

double PdfPage::widthHundredthsMm() const { return size_.width() * kHundredthsMmPerPoint; }
double PdfPage::heightHundredthsMm() const { return size_.height() * kHundredthsMmPerPoint; }

QImage PdfPage::renderRegion(double dpi, const QRect &region, bool transparentPaper) const {
  if (!doc_ || region.isEmpty() || !(dpi > 0))
    return {};
  std::lock_guard guard(doc_->lock);
  Poppler::Document &d = *doc_->doc;
  d.setRenderHint(Poppler::Document::IgnorePaperColor, transparentPaper);
  d.setPaperColor(transparentPaper ? QColor(Qt::transparent) : QColor(Qt::white));
  std::unique_ptr<Poppler::Page> page = d.page(index_);
  if (!page)
    return {};
  QImage img = page->renderToImage(dpi, dpi, region.x(), region.y(), region.width(), region.height());
  if (img.isNull() || img.size() != region.size())
    return {};
  const QImage::Format want = transparentPaper ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  if (img.format() != want)
    img.convertTo(want);
  return img;
}

} // namespace render
