#include "render/page_source.h"

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

} // namespace render
