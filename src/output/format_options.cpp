#include "output/format_options.h"

#include "settings/settings.h"

#include <QString>
#include <algorithm>
#include <atomic>
#include <mutex>

namespace output {

namespace {

std::atomic<bool> g_saveFileOpt{true};
std::mutex g_insideMutex;
std::string g_insideFormat;
bool g_insideFormatKnown = false;

} // namespace

bool SaveFileOpt() { return g_saveFileOpt.load(); }
void setSaveFileOpt(bool on) { g_saveFileOpt.store(on); }
void CommitSaveFileOpt(bool on) {
  setSaveFileOpt(on);
  RegSetInt("SaveFile_Opt", on ? 1 : 0);
}

std::string PdfInsideFormat() {
  std::lock_guard lock(g_insideMutex);
  // Until a page chooses one, the stored value stands, so confirming a sheet never loses it.
  if (!g_insideFormatKnown) {
    g_insideFormat = RegGetUserString("PDF_Bitmp_Format").value_or(std::string());
    g_insideFormatKnown = true;
  }
  return g_insideFormat;
}

void setPdfInsideFormat(const std::string &format) {
  std::lock_guard lock(g_insideMutex);
  g_insideFormat = format;
  g_insideFormatKnown = true;
}

int PdfInsideItemFor(const std::string &stored) {
  const QString text = QString::fromStdString(stored.size() < 3 ? std::string("BMP") : stored);
  for (int i = 0; i < int(std::size(kPdfInsideItems)); ++i)
    if (QString::fromLatin1(kPdfInsideItems[i]).startsWith(text, Qt::CaseInsensitive))
      return i;
  return -1;
}

int ActiveSheetPage(const Settings &s) {
  int page = PageJPG;
  if (s.TIF_Default)
    page = PageTIF;
  if (s.BMP_Default)
    page = PageBMP;
  if (s.PNG_Default)
    page = PagePNG;
  if (s.GIF_Default)
    page = PageGIF;
  if (s.JPG_Default)
    page = PageJPG;
  return page;
}

int DefaultFormatSheetPage(const Settings &s) {
  if (s.JPG_Default)
    return PageJPG;
  if (s.GIF_Default)
    return PageGIF;
  if (s.PNG_Default)
    return PagePNG;
  if (s.TIF_Default)
    return PageTIF;
  return -1;
}

FormatWorkingCopies FormatWorkingCopies::fromSettings(const Settings &s) {
  FormatWorkingCopies w;
  w.JPG_Quality = s.JPG_Quality;
  w.JPG_Progress = s.JPG_Progress;
  w.JPG_Gray = s.JPG_Gray;
  w.GIF_Colors = s.GIF_Colors;
  w.GIF_IndexGray = s.GIF_IndexGray;
  w.GIF_Dither = s.GIF_Dither;
  w.GIF_Interlace = s.GIF_Interlace;
  w.PNG_TrueIndexGray = s.PNG_TrueIndexGray;
  w.PNG_Colors = s.PNG_Colors;
  w.PNG_Dither = s.PNG_Dither;
  w.PNG_Interlace = s.PNG_Interlace;
  w.TIF_TrueIndexGray = s.TIF_TrueIndexGray;
  w.TIF_Colors = s.TIF_Colors;
  w.TIF_Lzw = s.TIF_Lzw;
  w.JPG_Default = s.JPG_Default;
  w.GIF_Default = s.GIF_Default;
  w.PNG_Default = s.PNG_Default;
  w.BMP_Default = s.BMP_Default;
  w.TIF_Default = s.TIF_Default;
  return w;
}

void FormatWorkingCopies::setDefault(render::FormatCode code) {
  JPG_Default = code == render::FormatJPG;
  GIF_Default = code == render::FormatGIF;
  PNG_Default = code == render::FormatPNG;
  BMP_Default = code == render::FormatBMP;
  TIF_Default = code == render::FormatTIF;
}

render::FormatCode FormatWorkingCopies::defaultFormat() const {
  Settings s;
  s.JPG_Default = JPG_Default;
  s.GIF_Default = GIF_Default;
  s.PNG_Default = PNG_Default;
  s.BMP_Default = BMP_Default;
  s.TIF_Default = TIF_Default;
  return render::DefaultFormat(s);
}

namespace {

void commitJpg(Settings &s, const FormatWorkingCopies &w, bool opened) {
  if (opened) {
    s.JPG_Gray = w.JPG_Gray;
    s.JPG_Progress = w.JPG_Progress;
  }
  s.JPG_Quality = w.JPG_Quality;
  RegSetInt("JPG_Gray", s.JPG_Gray);
  RegSetInt("JPG_Progress", s.JPG_Progress);
  RegSetInt("JPG_Quality", s.JPG_Quality);
}

void commitGif(Settings &s, const FormatWorkingCopies &w, bool opened) {
  s.GIF_Colors = w.GIF_Colors;
  s.GIF_IndexGray = w.GIF_IndexGray;
  if (opened) {
    s.GIF_Dither = w.GIF_Dither;
    s.GIF_Interlace = w.GIF_Interlace;
  }
  RegSetInt("GIF_Colors", s.GIF_Colors);
  RegSetInt("GIF_IndexGray", s.GIF_IndexGray);
  RegSetInt("GIF_Delay", s.GIF_Delay);
  RegSetInt("GIF_Dither", s.GIF_Dither);
  RegSetInt("GIF_Interlace", s.GIF_Interlace);
}

void commitPng(Settings &s, const FormatWorkingCopies &w, bool opened) {
  s.PNG_TrueIndexGray = w.PNG_TrueIndexGray;
  s.PNG_Colors = w.PNG_Colors;
  if (opened)
    s.PNG_Interlace = w.PNG_Interlace;
  s.PNG_Dither = w.PNG_Dither;
  RegSetInt("PNG_TrueIndexGray", s.PNG_TrueIndexGray);
  RegSetInt("PNG_Colors", s.PNG_Colors);
  RegSetInt("PNG_Interlace", s.PNG_Interlace);
  RegSetInt("PNG_Dither", s.PNG_Dither);
}

void commitTif(Settings &s, const FormatWorkingCopies &w) {
  s.TIF_TrueIndexGray = w.TIF_TrueIndexGray;
  s.TIF_Colors = w.TIF_Colors;
  s.TIF_Lzw = w.TIF_Lzw;
  RegSetInt("TIF_TrueIndexGray", s.TIF_TrueIndexGray);
  RegSetInt("TIF_Colors", s.TIF_Colors);
  RegSetInt("TIF_Lzw", s.TIF_Lzw);
}

} // namespace

void CommitFullSheet(const FormatWorkingCopies &w, const OpenedPages &opened) {
  Settings &s = settings();
  commitJpg(s, w, opened.jpg);
  commitGif(s, w, opened.gif);
  commitPng(s, w, opened.png);
  commitTif(s, w);
  const render::FormatCode now = w.defaultFormat();
  s.TIF_Default = now == render::FormatTIF;
  s.BMP_Default = now == render::FormatBMP;
  s.PNG_Default = now == render::FormatPNG;
  s.GIF_Default = now == render::FormatGIF;
  s.JPG_Default = now == render::FormatJPG;
  RegSetInt("TIF_Default", s.TIF_Default);
  RegSetInt("BMP_Default", s.BMP_Default);
  RegSetInt("PNG_Default", s.PNG_Default);
  RegSetInt("GIF_Default", s.GIF_Default);
  RegSetInt("JPG_Default", s.JPG_Default);
  RegSetUserString("PDF_Bitmp_Format", PdfInsideFormat());
}

void CommitFormatValues(render::FormatCode code, const FormatWorkingCopies &w, const OpenedPages &opened) {
  Settings &s = settings();
  switch (code) {
  case render::FormatJPG:
    commitJpg(s, w, opened.jpg);
    break;
  case render::FormatGIF:
    commitGif(s, w, opened.gif);
    break;
  case render::FormatPNG:
    commitPng(s, w, opened.png);
    break;
  case render::FormatTIF:
    commitTif(s, w);
    break;
  case render::FormatBMP:
    break;
  }
}

void SetDefaultFormat(int code, const std::function<void()> &rerender) {
  if (code < render::FormatJPG || code > render::FormatTIF)
    return;
  Settings &s = settings();
  if (render::DefaultFormat(s) == code)
    return;
  s.JPG_Default = code == render::FormatJPG;
  s.GIF_Default = code == render::FormatGIF;
  s.PNG_Default = code == render::FormatPNG;
  s.BMP_Default = code == render::FormatBMP;
  s.TIF_Default = code == render::FormatTIF;
  RegSetInt("JPG_Default", s.JPG_Default);
  RegSetInt("GIF_Default", s.GIF_Default);
  RegSetInt("PNG_Default", s.PNG_Default);
  RegSetInt("BMP_Default", s.BMP_Default);
  RegSetInt("TIF_Default", s.TIF_Default);
  if (rerender)
    rerender();
}

bool SetDefaultFormatInMemory(render::FormatCode code) {
  Settings &s = settings();
  bool *flag = code == render::FormatJPG   ? &s.JPG_Default
               : code == render::FormatGIF ? &s.GIF_Default
               : code == render::FormatPNG ? &s.PNG_Default
               : code == render::FormatBMP ? &s.BMP_Default
                                           : nullptr;
  if (!flag || render::DefaultFormat(s) == code)
    return false;
  s.JPG_Default = s.GIF_Default = s.PNG_Default = s.BMP_Default = false;
  *flag = true;
  return true;
}

} // namespace output
