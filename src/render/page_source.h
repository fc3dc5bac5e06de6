// What a captured page is drawn from: an enhanced metafile (from the spool folder) or a PDF page (from a print
// job held by CUPS). Made implicitly from a metafile handle, so code that passes metafiles keeps working.
#pragma once

#include "emf/metafile.h"
#include "render/pdf_page.h"

#include <cstddef>

namespace render {

class PageSource {
public:
  PageSource() = default;
  PageSource(std::nullptr_t) {}
  PageSource(emf::HENHMETAFILE metafile) : metafile_(std::move(metafile)) {}
  PageSource(HPDFPAGE pdf) : pdf_(std::move(pdf)) {}

  // The metafile of an EMF page; empty for a PDF page.
  const emf::HENHMETAFILE &metafile() const { return metafile_; }
  // The PDF page; empty for an EMF page.
  const HPDFPAGE &pdf() const { return pdf_; }
  // A page is there to draw.
  explicit operator bool() const { return metafile_ || pdf_; }

  // The page's frame in 0.01 mm (width, height); false without a page or with an unreadable metafile header.
  bool frameSize(double &width, double &height) const;
  // The page's size in whole millimetres: a metafile's frame rounded up; a PDF page's size rounded to the nearest
  // millimetre, as PDF sizes are mostly whole points a little off the millimetres they stand for (A4 as 595 x 842
  // points is 209.9 x 297.04 mm). False when frameSize is.
  bool sizeMm(double &width, double &height) const;

private:
  emf::HENHMETAFILE metafile_;
  HPDFPAGE pdf_;
};

} // namespace render
