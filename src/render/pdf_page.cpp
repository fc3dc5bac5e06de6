#include "render/pdf_page.h"

#include "pdf_renderer/pdf_renderer_api.h"

#include <QLibrary>
#include <QString>
#include <cmath>
#include <filesystem>
#include <mutex>

namespace render {

namespace {

// The PDF renderer module, loaded once, when the first document is read, and kept for the program's life.
struct Renderer {
  FxPdfOpenFunction open = nullptr;
  FxPdfPageCountFunction pageCount = nullptr;
  FxPdfPageSizeFunction pageSize = nullptr;
  FxPdfRenderFunction render = nullptr;
  FxPdfCloseFunction close = nullptr;
  std::string failure; // why the module cannot be used
};

const Renderer &renderer() {
  static const Renderer r = [] {
    Renderer m;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    QLibrary module(QString::fromStdString((folder / kPdfRendererModule).string()));
    module.setLoadHints(QLibrary::PreventUnloadHint);
    m.open = reinterpret_cast<FxPdfOpenFunction>(module.resolve(kPdfOpen));
    m.pageCount = reinterpret_cast<FxPdfPageCountFunction>(module.resolve(kPdfPageCount));
    m.pageSize = reinterpret_cast<FxPdfPageSizeFunction>(module.resolve(kPdfPageSize));
    m.render = reinterpret_cast<FxPdfRenderFunction>(module.resolve(kPdfRender));
    m.close = reinterpret_cast<FxPdfCloseFunction>(module.resolve(kPdfClose));
    if (!m.open || !m.pageCount || !m.pageSize || !m.render || !m.close) {
      m.open = nullptr;
      m.failure = "the PDF renderer cannot be loaded: " + module.errorString().toStdString();
    }
    return m;
  }();
  return r;
}

} // namespace

struct PdfPage::Document {
  FxPdfDocument *doc = nullptr;
  std::mutex lock; // the renderer of one document is not safe for two threads at once
  ~Document() {
    if (doc)
      renderer().close(doc);
  }
};

namespace {

constexpr double kHundredthsMmPerPoint = 2540.0 / 72.0;

bool usableSize(const QSizeF &s) {
  // A page of more than 200 inches a side is no printed page; its size would only overflow later arithmetic.
  return std::isfinite(s.width()) && std::isfinite(s.height()) && s.width() > 0 && s.height() > 0 &&
         s.width() <= 72.0 * 200 && s.height() <= 72.0 * 200;
}

} // namespace

std::vector<HPDFPAGE> PdfPage::LoadDocument(const QByteArray &bytes, std::string *error) {
  auto fail = [&](const std::string &why) {
    if (error)
      *error = why;
    return std::vector<HPDFPAGE>();
  };
  if (bytes.size() > kMaxDocumentBytes)
    return fail("the document is too large");
  const Renderer &r = renderer();
  if (!r.open)
    return fail(r.failure);
  auto doc = std::make_shared<Document>();
  const char *why = "not a readable PDF document";
  doc->doc = r.open(&bytes, &why);
  if (!doc->doc)
    return fail(why);
  const int n = r.pageCount(doc->doc);
  if (n < 1)
    return fail("the document has no pages");
  if (n > kMaxPages)
    return fail("the document has too many pages");
  std::vector<HPDFPAGE> pages;
  pages.reserve(size_t(n));
  for (int i = 0; i < n; ++i) {
    double w = 0, h = 0;
    const QSizeF size = r.pageSize(doc->doc, i, &w, &h) ? QSizeF(w, h) : QSizeF();
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
  QImage img;
  if (!renderer().render(doc_->doc, index_, dpi, region.x(), region.y(), region.width(), region.height(),
                         transparentPaper, &img) ||
      img.isNull() || img.size() != region.size())
    return {};
  const QImage::Format want = transparentPaper ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
  if (img.format() != want)
    img.convertTo(want);
  return img;
}

} // namespace render
