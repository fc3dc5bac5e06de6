// A page of a PDF document held in memory: the second page kind beside the enhanced metafile. Pages of one
// document share it; a page is immutable once made and may be rendered from any thread (renders of one document
// are serialised).
#pragma once

#include "emf/metafile.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSizeF>
#include <memory>
#include <string>
#include <vector>

namespace render {

class PdfPage;
// A PDF page handle; empty means "no page".
using HPDFPAGE = std::shared_ptr<const PdfPage>;

class PdfPage {
public:
  // Largest document accepted, in bytes.
  static constexpr qsizetype kMaxDocumentBytes = qsizetype(1) << 30;
  // Most pages taken from one document.
  static constexpr int kMaxPages = 10000;

  // Every page of the PDF document in `bytes`, in document order. Nothing (and *error, when given, says why) when
  // the bytes are not a PDF that can be read: damaged, encrypted with a password, too large, or without pages.
  static std::vector<HPDFPAGE> LoadDocument(const QByteArray &bytes, std::string *error = nullptr);

  // Page size in points (1/72 inch) as shown, the page's own rotation applied.
  QSizeF sizePoints() const { return size_; }
  // The page frame in 0.01 mm, as an enhanced metafile's frame would give it (left and top 0).
  double widthHundredthsMm() const;
  double heightHundredthsMm() const;
  // Index of the page in its document (0-based).
  int index() const { return index_; }

  // Renders the part `region` (pixels, top-left origin) of the page drawn at `dpi` pixels per inch on both axes
  // into an image of region's size. With transparentPaper the result is Format_ARGB32_Premultiplied with the
  // paper left transparent, ready to be drawn over a background; otherwise Format_RGB32 on white paper. A null
  // image when the renderer fails.
  QImage renderRegion(double dpi, const QRect &region, bool transparentPaper) const;

  struct Document; // the loaded document and the lock its renders take
  PdfPage(std::shared_ptr<Document> doc, int index, QSizeF size) : doc_(std::move(doc)), index_(index), size_(size) {}

private:
  std::shared_ptr<Document> doc_;
  int index_ = 0;
  QSizeF size_;
};

} // namespace render
