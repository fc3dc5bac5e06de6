#include "render/resolution.h"

#include "settings/settings.h"

#include <atomic>
#include <cmath>

namespace render {

namespace {
std::atomic<double> g_displayResolution{96.0};
}

double DisplayResolution() { return g_displayResolution.load(); }

void setDisplayResolution(double dpi) { g_displayResolution.store(dpi > 0 ? dpi : 96.0); }

double CurrentResolution() {
  switch (settings().CheckN) {
  case 0:
    return DisplayResolution();
  case 1:
    return kPrinterResolution;
  case 2:
    return settings().ResCur;
  default:
    return 100.0;
  }
}

} // namespace render
