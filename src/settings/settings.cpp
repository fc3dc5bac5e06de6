#include "settings/settings.h"

#include "platform/private_files.h"
#include "platform/registry.h"

#include <algorithm>
#include <mutex>

using platform::Hive;
using platform::RegAccess;
using platform::RegKey;

namespace {

// How a stored number becomes the in-memory setting.
enum class ReadsAs { OnWhenOne, OnWhenNotZero, Number, Colour, TenthsBoth, NumberBoth };

struct LoadedValue {
  const char *name;
  ReadsAs rule;
  void *target;      // bool, int32_t, uint32_t or double, as the rule says
  void *workingCopy; // the second target of the "Both" rules
};

void apply(const LoadedValue &v, int32_t stored) {
  switch (v.rule) {
  case ReadsAs::OnWhenOne:
    *static_cast<bool *>(v.target) = stored == 1;
    break;
  case ReadsAs::OnWhenNotZero:
    *static_cast<bool *>(v.target) = stored != 0;
    break;
  case ReadsAs::Number:
    *static_cast<int32_t *>(v.target) = stored;
    break;
  case ReadsAs::Colour:
    *static_cast<uint32_t *>(v.target) = static_cast<uint32_t>(stored);
    break;
  case ReadsAs::TenthsBoth: {
    const double dpi = static_cast<uint32_t>(stored) * 0.1;
    *static_cast<double *>(v.target) = dpi;
    *static_cast<double *>(v.workingCopy) = dpi;
    break;
  }
  case ReadsAs::NumberBoth:
    *static_cast<int32_t *>(v.target) = stored;
    *static_cast<int32_t *>(v.workingCopy) = stored;
    break;
  }
}

// Stored values outside the ranges the dialogs allow (a damaged or hand-edited hive) are brought into them, so that
// no render is asked for a page of no size or of an impossible one.
void clampToDialogRanges(Settings &s) {
  s.ResCur = s.ResCurWork = std::clamp(s.ResCur, 1.0, 300.0);
  s.ScaleCur = s.ScaleCurWork = std::clamp(s.ScaleCur, 1, 300);
  s.CheckN = s.CheckNWork = std::clamp(s.CheckN, 0, 2);
  s.KodAntialias = std::clamp(s.KodAntialias, 0, 20);
  s.lvHatchWidth = std::clamp(s.lvHatchWidth, 0, 100);
  s.lvHatchDepress = std::clamp(s.lvHatchDepress, 0, 100);
  s.lvHatchAngle = std::clamp(s.lvHatchAngle, 0, 90);
  s.JPG_Quality = std::clamp(s.JPG_Quality, 0, 100);
  s.GIF_Colors = std::clamp(s.GIF_Colors, 2, 256);
  s.PNG_Colors = std::clamp(s.PNG_Colors, 2, 256);
  s.TIF_Colors = std::clamp(s.TIF_Colors, 2, 256);
}

std::optional<std::string> readString(Hive hive, const std::string &name) {
  return platform::readStringValue(hive, kSettingsKey, name);
}

std::mutex g_writeMutex;
std::function<void(const std::string &)> g_writeHook;
bool g_failing = false;

// Passes a write's outcome on to the hook when it changes from success to failure or back.
bool told(bool ok) {
  const int error = ok ? 0 : platform::lastWriteError();
  std::function<void(const std::string &)> hook;
  {
    std::lock_guard lock(g_writeMutex);
    if (ok == !g_failing)
      return ok;
    g_failing = !ok;
    hook = g_writeHook;
  }
  if (hook)
    hook(ok ? std::string()
            : "Settings not saved: " +
                  (error ? platform::writeErrorText(error) : std::string("the settings file cannot be written")) + ".");
  return ok;
}

} // namespace

int32_t RegGetInt(const std::string &name) {
  const auto key = RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read);
  if (!key)
    return -1;
  const auto value = key->query(name);
  if (!value)
    return -1;
  return platform::dwordFromValue(*value).value_or(-1);
}

bool RegSetInt(const std::string &name, int32_t value) {
  auto key = RegKey::create(Hive::CurrentUser, kSettingsKey, RegAccess::Write);
  return told(key && key->setDword(name, static_cast<uint32_t>(value)));
}

std::optional<std::string> RegGetUserString(const std::string &name) { return readString(Hive::CurrentUser, name); }

std::optional<std::string> RegGetMachineString(const std::string &name) { return readString(Hive::LocalMachine, name); }

bool RegSetUserString(const std::string &name, const std::string &text) {
  auto key = RegKey::create(Hive::CurrentUser, kSettingsKey, RegAccess::Write);
  return told(key && key->setString(name, text));
}

bool RegSetStringAt(const std::string &keyPath, const std::string &name, const std::string &text) {
  auto key = RegKey::open(Hive::CurrentUser, keyPath, RegAccess::Write);
  return key && told(key->setString(name, text)); // a key that does not exist is no failed write
}

void setSettingsWriteHook(std::function<void(const std::string &message)> hook) {
  std::lock_guard lock(g_writeMutex);
  g_writeHook = std::move(hook);
}

std::optional<std::string> GetLocalAppDataFolder() {
  return platform::readStringValue(Hive::CurrentUser, kShellFoldersKey, "Local AppData");
}

bool LoadSettings() {
  const auto key = RegKey::open(Hive::CurrentUser, kSettingsKey, RegAccess::Read);
  if (!key) {
    RegKey::create(Hive::CurrentUser, kSettingsKey, RegAccess::Read);
    return true;
  }
  Settings &s = settings();
  const LoadedValue table[] = {
      {"lvIncludeDateTime", ReadsAs::OnWhenOne, &s.lvIncludeDateTime, nullptr},
      {"lvKodMainWinMax", ReadsAs::Number, &s.lvKodMainWinMax, nullptr},
      {"lvSharpen", ReadsAs::OnWhenOne, &s.lvSharpen, nullptr},
      {"lvCurBkGrColor", ReadsAs::Colour, &s.lvCurBkGrColor, nullptr},
      {"lvHatchColor", ReadsAs::Colour, &s.lvHatchColor, nullptr},
      {"lvHatchWidth", ReadsAs::Number, &s.lvHatchWidth, nullptr},
      {"lvHatchDepress", ReadsAs::Number, &s.lvHatchDepress, nullptr},
      {"lvHatchAngle", ReadsAs::Number, &s.lvHatchAngle, nullptr},
      {"lvHatchLnHor", ReadsAs::OnWhenNotZero, &s.lvHatchLnHor, nullptr},
      {"lvHatchLnVert", ReadsAs::OnWhenNotZero, &s.lvHatchLnVert, nullptr},
      {"lvBkGrHathStyle", ReadsAs::Number, &s.lvBkGrHathStyle, nullptr},
      {"ResCur", ReadsAs::TenthsBoth, &s.ResCur, &s.ResCurWork},
      {"CheckN", ReadsAs::NumberBoth, &s.CheckN, &s.CheckNWork},
      {"ScaleCur", ReadsAs::NumberBoth, &s.ScaleCur, &s.ScaleCurWork},
      {"KodAntialias", ReadsAs::Number, &s.KodAntialias, nullptr},
      {"JPG_Gray", ReadsAs::OnWhenNotZero, &s.JPG_Gray, nullptr},
      {"JPG_Progress", ReadsAs::OnWhenNotZero, &s.JPG_Progress, nullptr},
      {"JPG_Quality", ReadsAs::Number, &s.JPG_Quality, nullptr},
      {"GIF_Colors", ReadsAs::Number, &s.GIF_Colors, nullptr},
      {"GIF_IndexGray", ReadsAs::Number, &s.GIF_IndexGray, nullptr},
      {"GIF_Dither", ReadsAs::OnWhenNotZero, &s.GIF_Dither, nullptr},
      {"GIF_Interlace", ReadsAs::OnWhenNotZero, &s.GIF_Interlace, nullptr},
      {"GIF_Delay", ReadsAs::Number, &s.GIF_Delay, nullptr},
      {"PNG_TrueIndexGray", ReadsAs::Number, &s.PNG_TrueIndexGray, nullptr},
      {"PNG_Colors", ReadsAs::Number, &s.PNG_Colors, nullptr},
      {"PNG_Interlace", ReadsAs::OnWhenNotZero, &s.PNG_Interlace, nullptr},
      {"PNG_Dither", ReadsAs::OnWhenNotZero, &s.PNG_Dither, nullptr},
      {"TIF_TrueIndexGray", ReadsAs::Number, &s.TIF_TrueIndexGray, nullptr},
      {"TIF_Colors", ReadsAs::Number, &s.TIF_Colors, nullptr},
      {"TIF_Lzw", ReadsAs::OnWhenNotZero, &s.TIF_Lzw, nullptr},
      {"TIF_Default", ReadsAs::OnWhenNotZero, &s.TIF_Default, nullptr},
      {"BMP_Default", ReadsAs::OnWhenNotZero, &s.BMP_Default, nullptr},
      {"PNG_Default", ReadsAs::OnWhenNotZero, &s.PNG_Default, nullptr},
      {"GIF_Default", ReadsAs::OnWhenNotZero, &s.GIF_Default, nullptr},
      {"JPG_Default", ReadsAs::OnWhenNotZero, &s.JPG_Default, nullptr},
  };
  for (const LoadedValue &v : table) {
    const auto value = key->query(v.name);
    if (!value)
      continue;
    if (const auto stored = platform::dwordFromValue(*value))
      apply(v, *stored);
  }
  clampToDialogRanges(s);
  return true;
}

Settings &settings() {
  static Settings s;
  return s;
}
