// The monitor's pictures, drawn at run time: the program icon, the six printers-list images and the three
// Info images.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

namespace monitor {

// The program icon (a printer with a sheet), in 16, 32 and 48 pixels.
QIcon appIcon();
// 12 by 12: plus, minus, question mark, then the same three with the red changed mark, in list order 0..5.
std::vector<QPixmap> printerListImages();
// 16 by 16: information sign, red error sign, yellow warning sign.
std::vector<QPixmap> infoImages();

} // namespace monitor
