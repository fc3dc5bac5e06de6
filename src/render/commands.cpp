#include "render/commands.h"

#include "settings/settings.h"

namespace render {

int AntialiasFactorForCommand(int commandId) {
  switch (commandId) {
  case 32801:
    return 0;
  case 32823:
    return 2;
  case 32824:
    return 3;
  case 32813:
    return 5;
  case 32815:
    return 7;
  case 32818:
    return 10;
  case 32825:
    return 15;
  case 32819:
    return 20;
  default:
    return -1;
  }
}

bool AntialiasCommandChecked(int commandFactor, int currentFactor) {
  if (commandFactor == 0)
    return currentFactor < 1;
  if (commandFactor == 20)
    return currentFactor > 19;
  return currentFactor == commandFactor;
}

bool CommandAntialias(int factor, const std::function<void()> &rerender) {
  settings().KodAntialias = factor;
  if (rerender)
    rerender();
  return RegSetInt("KodAntialias", factor);
}

bool CommandToggleSharpen(const std::function<void()> &rerender) {
  const bool on = !settings().lvSharpen;
  settings().lvSharpen = on;
  RegSetInt("lvSharpen", on ? 1 : 0);
  if (rerender)
    rerender();
  return on;
}

bool CommandToggleDateTimeStamp(const std::function<void()> &rerender) {
  const bool on = !settings().lvIncludeDateTime;
  settings().lvIncludeDateTime = on;
  RegSetInt("lvIncludeDateTime", on ? 1 : 0);
  if (rerender)
    rerender();
  return on;
}

} // namespace render
