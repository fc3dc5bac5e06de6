// The image format settings as the options sheets edit them: the working copies a sheet works on, the order in
// which a confirmed sheet writes the values, the default format, and the two flags of the output dialogs that are
// not part of the settings loader ("invoke image options" and the PDF inside format in memory).
#pragma once

#include "render/encoding.h"

#include <functional>
#include <string>

struct Settings;

namespace output {

// "Invoke image options": set at every start, changed only by a confirmed save or mail dialog.
bool SaveFileOpt();
void setSaveFileOpt(bool on);
// Commits a dialog's choice: sets the flag and writes "SaveFile_Opt".
void CommitSaveFileOpt(bool on);

// The PDF inside format in memory: what the "Multipaged PDF" page chose, written as "PDF_Bitmp_Format" when a sheet
// holding that page is confirmed.
std::string PdfInsideFormat();
void setPdfInsideFormat(const std::string &format);
// The items of the "Multipaged PDF" page, in order.
inline constexpr const char *kPdfInsideItems[] = {"BMP", "GIF", "JPG", "TIF", "PNG"};
// The item a stored inside format selects: a text shorter than 3 characters stands for "BMP"; otherwise the first
// item that begins with the text, compared without case; -1 when none does.
int PdfInsideItemFor(const std::string &stored);

// Sheet page indexes of the full sheet.
enum SheetPage { PageJPG = 0, PageGIF = 1, PagePNG = 2, PageBMP = 3, PageTIF = 4, PagePDF = 5 };
// The page the full sheet opens on: the flags are tested TIF, BMP, PNG, GIF, JPG and the last set one wins.
int ActiveSheetPage(const Settings &s);
// The one format page a default-format sheet shows: JPG, GIF, PNG, TIF tested in this order; nothing (-1) for BMP.
int DefaultFormatSheetPage(const Settings &s);

// What a sheet edits. The check boxes exchanged with their pages directly (JPG "Progressive" and "Grayscale", GIF
// "Dither" and "Interlace", PNG "Interlace") are here too, filled from the settings like the rest.
struct FormatWorkingCopies {
  int JPG_Quality = 90;
  bool JPG_Progress = true;
  bool JPG_Gray = false;
  int GIF_Colors = 64;
  int GIF_IndexGray = 0;
  bool GIF_Dither = false;
  bool GIF_Interlace = true;
  int PNG_TrueIndexGray = 0;
  int PNG_Colors = 64;
  bool PNG_Dither = false;
  bool PNG_Interlace = true;
  int TIF_TrueIndexGray = 0;
  int TIF_Colors = 64;
  bool TIF_Lzw = true;
  bool JPG_Default = true, GIF_Default = false, PNG_Default = false, BMP_Default = false, TIF_Default = false;

  static FormatWorkingCopies fromSettings(const Settings &s);
  // Makes the format of the code the only default in the working copies.
  void setDefault(render::FormatCode code);
  render::FormatCode defaultFormat() const;
};

// Which pages of a sheet were opened: the check boxes of a page never opened keep their stored values.
struct OpenedPages {
  bool jpg = false, gif = false, png = false, tif = false;
};

// A confirmed full sheet: copies the working copies into the settings and writes JPG_Gray, JPG_Progress,
// JPG_Quality; GIF_Colors, GIF_IndexGray, GIF_Delay, GIF_Dither, GIF_Interlace; PNG_TrueIndexGray, PNG_Colors,
// PNG_Interlace, PNG_Dither; TIF_TrueIndexGray, TIF_Colors, TIF_Lzw; then the default flags (TIF, BMP, PNG, GIF,
// JPG) and the PDF inside format.
void CommitFullSheet(const FormatWorkingCopies &w, const OpenedPages &opened);
// A confirmed one-page sheet: only that format's values, in the same order; no flags, no inside format.
void CommitFormatValues(render::FormatCode code, const FormatWorkingCopies &w, const OpenedPages &opened);

// Makes the format of the code (1..5) the default: flags in memory, all five written (JPG, GIF, PNG, BMP, TIF), then
// rerender. Nothing happens for another code or when the format already is the default.
void SetDefaultFormat(int code, const std::function<void()> &rerender);
// "Save as..." sets the default among JPG, GIF, PNG and BMP in memory only (TIF's flag untouched, nothing written).
// Returns whether anything changed.
bool SetDefaultFormatInMemory(render::FormatCode code);

} // namespace output
