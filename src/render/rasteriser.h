// The page rasteriser: one captured page (an enhanced metafile) to a raster image at a resolution, scale and
// supersampling factor, drawn in bands.
#pragma once

#include "emf/metafile.h"

#include <Magick++.h>
#include <functional>

using MagickCore::Quantum;

namespace render {

// Receives the render's progress: range 0..n, then position i before band i.
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
};

// Renders the page; pageIndex only selects the page's rotation (see setPageRotationSource).
// Calls from several threads are serialised. Image library exceptions reach the caller.
Magick::Image RenderPage(double resolution, const emf::HENHMETAFILE &mf, int pageIndex,
                         const RenderOptions &options = {});

// The page store tells the rasteriser how to find a page's rotation in degrees (0 when not set).
void setPageRotationSource(std::function<double(int pageIndex)> source);

// Numbers recorded by the last render.
struct RenderRecord {
  int widthMm = 0;  // ceil of the unscaled frame width in mm
  int heightMm = 0;
  int fileKb = 0;   // size of the temporary image file, in KB
};
RenderRecord lastRenderRecord();

} // namespace render
