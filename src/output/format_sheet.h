// The image format options sheets: one page per format and the "Multipaged PDF" page, each editing the working
// copies of the sheet that holds it; the three ways the program shows them.
#pragma once

#include "output/format_options.h"

#include <QDialog>
#include <functional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class QTabWidget;

namespace output {

// One page of a sheet. A page reads and writes the sheet's working copies; activate() runs each time it becomes
// the shown page.
class lvPropPage : public QWidget {
  Q_OBJECT
public:
  lvPropPage(const QString &caption, FormatWorkingCopies &w);
  const QString &caption() const { return caption_; }
  virtual void activate() { opened_ = true; }
  bool opened() const { return opened_; }

protected:
  FormatWorkingCopies &w_;

private:
  QString caption_;
  bool opened_ = false;
};

// The colour count controls shared by the GIF, PNG and TIF pages: a slider 2..256 and its number box.
struct ColourCountControls {
  QSlider *slider = nullptr;
  QLineEdit *number = nullptr;
};

class lvPropJPG : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropJPG(FormatWorkingCopies &w);
  void activate() override;
  QSlider *slider = nullptr;
  QLineEdit *number = nullptr;
  QCheckBox *progressive = nullptr;
  QCheckBox *grayscale = nullptr;
  QCheckBox *setAsDefault = nullptr;
};

class lvPropGIF : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropGIF(FormatWorkingCopies &w);
  void activate() override;
  QRadioButton *indexed = nullptr;
  QRadioButton *grayscale = nullptr;
  ColourCountControls colours;
  QCheckBox *dither = nullptr;
  QCheckBox *interlace = nullptr;
  QCheckBox *setAsDefault = nullptr;
};

class lvPropImg : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropImg(FormatWorkingCopies &w);
  void activate() override;
  QRadioButton *trueColor = nullptr;
  QRadioButton *indexed = nullptr;
  QRadioButton *grayscale = nullptr;
  ColourCountControls colours;
  QCheckBox *dither = nullptr;
  QCheckBox *interlace = nullptr;
  QCheckBox *setAsDefault = nullptr;

private:
  void chooseKind(int kind);
};

class lvPropBMP : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropBMP(FormatWorkingCopies &w);
  void activate() override;
  QCheckBox *setAsDefault = nullptr;
};

class lvPropTIF : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropTIF(FormatWorkingCopies &w);
  void activate() override;
  QCheckBox *lzw = nullptr;
  QRadioButton *trueColor = nullptr;
  QRadioButton *indexed = nullptr;
  QRadioButton *grayscale = nullptr;
  QRadioButton *blackWhite = nullptr;
  ColourCountControls colours;
  QCheckBox *setAsDefault = nullptr;

private:
  void chooseKind(int kind);
};

class lvPropPDF : public lvPropPage {
  Q_OBJECT
public:
  explicit lvPropPDF(FormatWorkingCopies &w);
  QComboBox *insideFormat = nullptr;
};

// The sheet: pages in tabs, OK, Cancel and (for the full sheet) Help.
class lvImgOptionsFull : public QDialog {
  Q_OBJECT
public:
  lvImgOptionsFull(const QString &caption, QWidget *owner, bool withHelp);
  void addPage(lvPropPage *page);
  void setActivePage(int index);
  lvPropPage *page(int index) const;
  int pageCount() const { return int(pages_.size()); }
  QTabWidget *tabs() const { return tabs_; }
  FormatWorkingCopies &working() { return working_; }
  OpenedPages openedPages() const;

private:
  FormatWorkingCopies working_;
  QTabWidget *tabs_;
  std::vector<lvPropPage *> pages_;
};

// "Image Format and Quality...": all six pages; on OK everything is stored and the current page re-rendered.
void ShowImageOptions(QWidget *owner, const std::function<void()> &rerender);
// The page of the default format alone (nothing for BMP); on OK that format's values are stored and the current
// page re-rendered.
void ShowDefaultFormatOptions(QWidget *owner, const std::function<void()> &rerender);
// A sheet holding the "Multipaged PDF" page only when withPage is 2; on OK with it, "PDF_Bitmp_Format" is written.
void ShowPdfInsideFormat(QWidget *owner, int withPage);

} // namespace output
