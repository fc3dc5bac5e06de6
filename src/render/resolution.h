// The committed resolution values and the resolution every real render uses.
#pragma once

namespace render {

inline constexpr double kPrinterResolution = 300.0;

// Display resolution: ceil(pixels / (millimetres x 0.03937...)) of the primary screen, measured by the capture side
// from the screen's physical size; 96 until measured or when the screen does not know its size.
double DisplayResolution();
// Sets the measured value (values not above 0 restore 96).
void setDisplayResolution(double dpi);

// By the committed choice CheckN: 0 display, 1 printer (300), 2 the user resolution ResCur, otherwise 100.
double CurrentResolution();

} // namespace render
