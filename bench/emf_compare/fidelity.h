// Rendering a metafile page the way the reference pictures were made (banded supersampling with truncating block
// averages) and scoring a rendering against a reference picture.
#pragma once

#include "emf/metafile.h"

#include <QImage>
#include <QString>
#include <cstdint>
#include <string>

namespace fidelity {

struct PageGeometry {
  int cols = 0; // output pixels
  int rows = 0;
  int S = 1;   // supersampling factor
  int B = 200; // band height in supersampled rows
};

// Output size and band layout for a frame (0.01 mm) at dpi, scale (percent) and antialiasing factor.
PageGeometry pageGeometry(const emf::RECTL &frame, int dpi, int scalePercent, int aa);

// Plays the page band by band (white Format_RGB32 bands of cols*S x B rows, destination rectangle shifted up by
// i*B) and averages every S x S block per channel with truncating division. Returns a Format_RGB32 image of
// cols x rows, or a null image with *error set (empty page, page over maxPixels output pixels, out of memory).
QImage renderPage(const emf::HENHMETAFILE &mf, int aa, int dpi, std::string *error,
                  uint64_t maxPixels = 60ull * 1000000);

struct Scores {
  double ssim8 = 0;  // structural score on 8x8 block means, 1 = identical
  double mad = 0;    // mean absolute difference over pixels and R, G, B, 0..255
  double diff32 = 0; // percent of pixels differing by more than 32 in some channel
  double psnr = 0;   // dB; infinity when identical
};

// Scores two images of equal size (anything with alpha is composited onto white first).
Scores compare(const QImage &a, const QImage &b);

// The structural score alone on two grey images given as row-major doubles (exposed for tests).
double ssim8(const std::vector<double> &ga, const std::vector<double> &gb, int width, int height);

// Where a and b differ: a faint grey copy of a with differing pixels painted from yellow (small) to red (>= 64).
QImage heatmap(const QImage &a, const QImage &b);

} // namespace fidelity
