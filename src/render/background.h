// The page background (white, a solid colour, or a colour with a line pattern) and the date and time stamp,
// both drawn on a band of the supersampled page.
#pragma once

#include <QDateTime>
#include <QRect>
#include <QString>
#include <cstdint>

class QPainter;
struct Settings;

namespace render {

// Everything PaintBackground draws with. Colours are 0x00BBGGRR.
struct BackgroundParams {
  int style = 100;
  uint32_t backgroundColor = 0x80FF80;
  uint32_t hatchColor = 0xA83E3E;
  int width = 0;   // line width, multiplied by m for the pen
  int spacing = 8; // line spacing of the grid (the argument; lvHatchDepress otherwise)
  int depress = 8; // lvHatchDepress: the offset, the tile size
  int angle = 0;   // degrees
  bool linesHorizontal = true;
  bool linesVertical = true;
  int m = 1; // drawing scale (the supersampling factor)

  // From the settings; width, spacing and angle override them when not negative. The scale is the factor
  // KodAntialias when above 0 and not in thumbnail mode, else 1.
  static BackgroundParams fromSettings(const Settings &s, int width, int spacing, int angle, bool thumbnail);
};

// Pattern constants: cell width and height, vertical start, wave row pitch.
inline constexpr int kCellW = 50;
inline constexpr int kCellH = 50;
inline constexpr int kStartT = 50;
inline constexpr int kWaveV = 18;

// Fills pageRect (the whole page in band coordinates) on the band the painter draws on; bandOffset is the band's
// first row in bitmap rows, so every band draws its part of one page-wide pattern.
void PaintBackground(QPainter &dc, const QRect &pageRect, int bandOffset, const BackgroundParams &p);
// As the rasteriser calls it: the settings in memory, -1 meaning "take it from the settings".
void PaintBackground(QPainter &dc, const QRect &pageRect, int bandOffset, int width, int spacing, int angle,
                     bool thumbnail = false);

// "<short date> <time>" in the system locale.
QString DateTimeStampText(const QDateTime &when);
// Pixel height of the stamp's font for factor f: 11 at factor 0, else 10 x f + 2.
int DateTimeStampFontHeight(int f);
// Writes the current date and time into the page's top-left corner (only the first band shows it).
void DrawDateTimeStamp(QPainter &dc, const QRect &pageRect, int f);
void DrawDateTimeStamp(QPainter &dc, const QRect &pageRect, int f, const QDateTime &when);

} // namespace render
