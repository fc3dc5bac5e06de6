#include "render/page_source.h"

#include <cmath>

namespace render {

bool PageSource::frameSize(double &width, double &height) const {
  if (pdf_) {
    width = pdf_->widthHundredthsMm();
    height = pdf_->heightHundredthsMm();
    return true;
  }
  if (!metafile_)
    return false;
  emf::ENHMETAHEADER h;
  if (emf::GetEnhMetaFileHeader(metafile_, sizeof h, &h) == 0)
    return false;
  width = double(h.rclFrame.right) - double(h.rclFrame.left);
  height = double(h.rclFrame.bottom) - double(h.rclFrame.top);
  return true;
}

bool PageSource::sizeMm(double &width, double &height) const {
  double w = 0, h = 0;
  if (!frameSize(w, h))
    return false;
  width = pdf_ ? std::round(w * 0.01) : std::ceil(w * 0.01);
  height = pdf_ ? std::round(h * 0.01) : std::ceil(h * 0.01);
  return true;
}

} // namespace render
