// Helpers of the rasteriser tests: sample metafiles, a straightforward whole-page render to compare against.
#pragma once

#include "emf/metafile.h"
#include "render/background.h"

#include <Magick++.h>
#include <QImage>
#include <QString>
#include <string>

namespace rtest {

QString dataFile(const char *name);
// A metafile made of a header with the given frame and an end record: it draws nothing.
emf::HENHMETAFILE blankPage(int frameRight, int frameBottom, int frameLeft = 0, int frameTop = 0);
emf::HENHMETAFILE loadData(const char *name);

// The whole supersampled page in one bitmap (background, then the metafile), without bands.
QImage wholePage(const emf::HENHMETAFILE &mf, int cols, int rows, int S, const render::BackgroundParams &bg);
// Plain block averaging of a whole page bitmap, per channel with truncating division.
QImage averageWhole(const QImage &page, int S);
// The image's pixels as a QImage (8 bits per channel).
QImage toQImage(const Magick::Image &image);

} // namespace rtest
