#include "output/format_sheet.h"

#include "output/messages.h"
#include "platform/help_window.h"
#include "settings/settings.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace output {

namespace {

QCheckBox *checkBox(QWidget *parent, const char *text, const char *name, bool on) {
  auto *b = new QCheckBox(QString::fromLatin1(text), parent);
  b->setObjectName(QLatin1String(name));
  b->setChecked(on);
  return b;
}

// The hidden "Set as Default" box: ticking it makes the page's format the sheet's default.
QCheckBox *defaultBox(QWidget *parent, const char *text, FormatWorkingCopies &w, render::FormatCode code) {
  QCheckBox *b = checkBox(parent, text, "setAsDefault", false);
  b->setVisible(false);
  QObject::connect(b, &QCheckBox::toggled, parent, [&w, code](bool on) {
    if (on)
      w.setDefault(code);
  });
  return b;
}

QRadioButton *radio(QWidget *parent, const char *text, const char *name) {
  auto *r = new QRadioButton(QString::fromLatin1(text), parent);
  r->setObjectName(QLatin1String(name));
  return r;
}

QLineEdit *numberBox(QWidget *parent, int value) {
  auto *e = new QLineEdit(QString::number(value), parent);
  e->setObjectName(QStringLiteral("number"));
  e->setReadOnly(true);
  e->setAlignment(Qt::AlignCenter);
  e->setMaximumWidth(60);
  return e;
}

// Slider 2..256 with its number box; the count is clamped into the range when shown.
ColourCountControls colourControls(QWidget *parent, int &count, QGridLayout *grid, int row) {
  ColourCountControls c;
  count = std::clamp(count, 2, 256);
  c.slider = new QSlider(Qt::Horizontal, parent);
  c.slider->setObjectName(QStringLiteral("slider"));
  c.slider->setRange(2, 256);
  c.slider->setValue(count);
  c.number = numberBox(parent, count);
  QLineEdit *number = c.number;
  QObject::connect(c.slider, &QSlider::valueChanged, parent, [&count, number](int v) {
    count = v;
    number->setText(QString::number(v));
  });
  grid->addWidget(new QLabel(QStringLiteral("Colors:"), parent), row, 0);
  grid->addWidget(c.number, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("(2... 256)"), parent), row, 2);
  grid->addWidget(c.slider, row + 1, 0, 1, 3);
  return c;
}

QGroupBox *fileTypeGroup(QWidget *parent, std::initializer_list<QRadioButton *> buttons) {
  auto *group = new QGroupBox(QStringLiteral("File type:"), parent);
  auto *lay = new QVBoxLayout(group);
  for (QRadioButton *b : buttons) {
    b->setParent(group);
    lay->addWidget(b);
  }
  return group;
}

} // namespace

lvPropPage::lvPropPage(const QString &caption, FormatWorkingCopies &w) : w_(w), caption_(caption) {}

// ---- JPG ----

lvPropJPG::lvPropJPG(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("JPG"), w) {
  setObjectName(QStringLiteral("lvPropJPG"));
  auto *grid = new QGridLayout(this);
  slider = new QSlider(Qt::Horizontal, this);
  slider->setObjectName(QStringLiteral("slider"));
  slider->setRange(0, 100);
  slider->setValue(w.JPG_Quality);
  number = numberBox(this, w.JPG_Quality);
  progressive = checkBox(this, "Progressive", "progressive", w.JPG_Progress);
  grayscale = checkBox(this, "Grayscale", "grayscale", w.JPG_Gray);
  setAsDefault = defaultBox(this, "Set as Default", w, render::FormatJPG);
  grid->addWidget(new QLabel(QStringLiteral("Quality:"), this), 0, 0);
  grid->addWidget(number, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("(0...100)"), this), 0, 2);
  grid->addWidget(new QLabel(QStringLiteral("lowest"), this), 1, 0);
  grid->addWidget(slider, 1, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("best"), this), 1, 3);
  grid->addWidget(progressive, 2, 0, 1, 2);
  grid->addWidget(grayscale, 3, 0, 1, 2);
  grid->addWidget(setAsDefault, 4, 0, 1, 2);
  grid->setRowStretch(5, 1);
  connect(slider, &QSlider::valueChanged, this, [this](int v) {
    w_.JPG_Quality = v;
    number->setText(QString::number(v));
  });
  connect(progressive, &QCheckBox::toggled, this, [this](bool on) { w_.JPG_Progress = on; });
  connect(grayscale, &QCheckBox::toggled, this, [this](bool on) { w_.JPG_Gray = on; });
}

void lvPropJPG::activate() {
  lvPropPage::activate();
  setAsDefault->setChecked(w_.JPG_Default);
}

// ---- GIF ----

lvPropGIF::lvPropGIF(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("GIF"), w) {
  setObjectName(QStringLiteral("lvPropGIF"));
  auto *grid = new QGridLayout(this);
  indexed = radio(this, "Indexed", "indexed");
  grayscale = radio(this, "Grayscale", "grayscale");
  grid->addWidget(fileTypeGroup(this, {indexed, grayscale}), 0, 0, 1, 3);
  (w.GIF_IndexGray == 1 ? grayscale : indexed)->setChecked(true);
  colours = colourControls(this, w.GIF_Colors, grid, 1);
  dither = checkBox(this, "Dither", "dither", w.GIF_Dither);
  interlace = checkBox(this, "Interlace", "interlace", w.GIF_Interlace);
  setAsDefault = defaultBox(this, "Set as Default", w, render::FormatGIF);
  grid->addWidget(dither, 3, 0, 1, 3);
  grid->addWidget(interlace, 4, 0, 1, 3);
  grid->addWidget(setAsDefault, 5, 0, 1, 3);
  grid->setRowStretch(6, 1);
  connect(indexed, &QRadioButton::clicked, this, [this] { w_.GIF_IndexGray = 0; });
  connect(grayscale, &QRadioButton::clicked, this, [this] { w_.GIF_IndexGray = 1; });
  connect(dither, &QCheckBox::toggled, this, [this](bool on) { w_.GIF_Dither = on; });
  connect(interlace, &QCheckBox::toggled, this, [this](bool on) { w_.GIF_Interlace = on; });
}

void lvPropGIF::activate() {
  lvPropPage::activate();
  setAsDefault->setChecked(w_.GIF_Default);
}

// ---- PNG ----

lvPropImg::lvPropImg(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("PNG"), w) {
  setObjectName(QStringLiteral("lvPropImg"));
  auto *grid = new QGridLayout(this);
  trueColor = radio(this, "True Color", "trueColor");
  indexed = radio(this, "Indexed", "indexed");
  grayscale = radio(this, "Grayscale", "grayscale");
  grid->addWidget(fileTypeGroup(this, {trueColor, indexed, grayscale}), 0, 0, 1, 3);
  colours = colourControls(this, w.PNG_Colors, grid, 1);
  dither = checkBox(this, "Dither", "dither", w.PNG_Dither);
  interlace = checkBox(this, "Interlace", "interlace", w.PNG_Interlace);
  setAsDefault = defaultBox(this, "Set as Default ", w, render::FormatPNG);
  grid->addWidget(dither, 3, 0, 1, 3);
  grid->addWidget(interlace, 4, 0, 1, 3);
  grid->addWidget(setAsDefault, 5, 0, 1, 3);
  grid->setRowStretch(6, 1);
  const int kind = w.PNG_TrueIndexGray;
  if (kind == 1)
    indexed->setChecked(true);
  else if (kind == 2)
    grayscale->setChecked(true);
  else if (kind == 0)
    trueColor->setChecked(true);
  const bool reduced = kind == 1 || kind == 2;
  colours.slider->setEnabled(reduced);
  dither->setEnabled(reduced);
  connect(trueColor, &QRadioButton::clicked, this, [this] { chooseKind(0); });
  connect(indexed, &QRadioButton::clicked, this, [this] { chooseKind(1); });
  connect(grayscale, &QRadioButton::clicked, this, [this] { chooseKind(2); });
  connect(dither, &QCheckBox::clicked, this, [this](bool on) { w_.PNG_Dither = on; });
  connect(interlace, &QCheckBox::toggled, this, [this](bool on) { w_.PNG_Interlace = on; });
}

void lvPropImg::chooseKind(int kind) {
  w_.PNG_TrueIndexGray = kind;
  colours.slider->setEnabled(kind != 0);
  dither->setEnabled(kind != 0);
}

void lvPropImg::activate() {
  lvPropPage::activate();
  setAsDefault->setChecked(w_.PNG_Default);
}

// ---- BMP ----

lvPropBMP::lvPropBMP(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("BMP"), w) {
  setObjectName(QStringLiteral("lvPropBMP"));
  auto *lay = new QVBoxLayout(this);
  lay->addWidget(new QLabel(QStringLiteral("No options"), this));
  setAsDefault = defaultBox(this, "Set as Default", w, render::FormatBMP);
  lay->addWidget(setAsDefault);
  lay->addStretch(1);
}

void lvPropBMP::activate() {
  lvPropPage::activate();
  setAsDefault->setChecked(w_.BMP_Default);
}

// ---- TIF ----

lvPropTIF::lvPropTIF(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("TIF"), w) {
  setObjectName(QStringLiteral("lvPropTIF"));
  auto *grid = new QGridLayout(this);
  lzw = checkBox(this, "LZW compression", "lzw", w.TIF_Lzw);
  grid->addWidget(lzw, 0, 0, 1, 3);
  trueColor = radio(this, "True Color", "trueColor");
  indexed = radio(this, "Indexed", "indexed");
  grayscale = radio(this, "Grayscale", "grayscale");
  blackWhite = radio(this, "B / W", "blackWhite");
  grid->addWidget(fileTypeGroup(this, {trueColor, indexed, grayscale, blackWhite}), 1, 0, 1, 3);
  colours = colourControls(this, w.TIF_Colors, grid, 2);
  setAsDefault = defaultBox(this, "Set as Default", w, render::FormatTIF);
  grid->addWidget(setAsDefault, 4, 0, 1, 3);
  grid->setRowStretch(5, 1);
  const int kind = w.TIF_TrueIndexGray;
  QRadioButton *const byKind[] = {trueColor, indexed, grayscale, blackWhite};
  if (kind >= 0 && kind <= 3)
    byKind[kind]->setChecked(true);
  const bool reduced = kind == 1 || kind == 2;
  colours.slider->setEnabled(reduced);
  colours.number->setEnabled(reduced);
  connect(trueColor, &QRadioButton::clicked, this, [this] { chooseKind(0); });
  connect(indexed, &QRadioButton::clicked, this, [this] { chooseKind(1); });
  connect(grayscale, &QRadioButton::clicked, this, [this] { chooseKind(2); });
  connect(blackWhite, &QRadioButton::clicked, this, [this] { chooseKind(3); });
  connect(lzw, &QCheckBox::clicked, this, [this](bool on) { w_.TIF_Lzw = on; });
}

void lvPropTIF::chooseKind(int kind) {
  w_.TIF_TrueIndexGray = kind;
  const bool reduced = kind == 1 || kind == 2;
  colours.slider->setEnabled(reduced);
  colours.number->setEnabled(reduced);
}

void lvPropTIF::activate() {
  lvPropPage::activate();
  setAsDefault->setChecked(w_.TIF_Default);
}

// ---- PDF ----

lvPropPDF::lvPropPDF(FormatWorkingCopies &w) : lvPropPage(QStringLiteral("Multipaged PDF"), w) {
  setObjectName(QStringLiteral("lvPropPDF"));
  auto *lay = new QVBoxLayout(this);
  lay->addWidget(new QLabel(QStringLiteral("Select inside format"), this));
  insideFormat = new QComboBox(this);
  insideFormat->setObjectName(QStringLiteral("insideFormat"));
  for (const char *item : kPdfInsideItems)
    insideFormat->addItem(QString::fromLatin1(item));
  insideFormat->setCurrentIndex(PdfInsideItemFor(RegGetUserString("PDF_Bitmp_Format").value_or(std::string())));
  lay->addWidget(insideFormat);
  lay->addWidget(new QLabel(QStringLiteral("BMP - recommended!"), this));
  lay->addStretch(1);
  connect(insideFormat, &QComboBox::activated, this,
          [this](int index) { setPdfInsideFormat(insideFormat->itemText(index).toStdString()); });
}

// ---- the sheet ----

lvImgOptionsFull::lvImgOptionsFull(const QString &caption, QWidget *owner, bool withHelp)
    : QDialog(owner), working_(FormatWorkingCopies::fromSettings(settings())), tabs_(new QTabWidget(this)) {
  setObjectName(QStringLiteral("lvImgOptionsFull"));
  setWindowTitle(caption);
  auto *lay = new QVBoxLayout(this);
  lay->addWidget(tabs_);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  if (withHelp) {
    QPushButton *help = buttons->addButton(QDialogButtonBox::Help);
    connect(help, &QPushButton::clicked, this, [this] {
      const QString page = platform::helpTopicPath(QStringLiteral("options.htm"));
      if (!platform::showHelp(page, this)) {
        MessageRequest m;
        m.text = QStringLiteral("Cannot open the help page:\n%1").arg(page);
        m.caption = ApplicationTitle();
        m.icon = QMessageBox::Warning;
        m.owner = this;
        ShowMessage(m);
      }
    });
  }
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  lay->addWidget(buttons);
  connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    if (lvPropPage *p = page(index))
      p->activate();
  });
}

void lvImgOptionsFull::addPage(lvPropPage *page) {
  pages_.push_back(page);
  // The first page added becomes the shown one, and is activated like any page shown later.
  tabs_->addTab(page, page->caption());
}

void lvImgOptionsFull::setActivePage(int index) {
  if (index == tabs_->currentIndex()) {
    if (lvPropPage *p = page(index))
      p->activate();
    return;
  }
  tabs_->setCurrentIndex(index);
}

lvPropPage *lvImgOptionsFull::page(int index) const {
  return index >= 0 && index < int(pages_.size()) ? pages_[size_t(index)] : nullptr;
}

OpenedPages lvImgOptionsFull::openedPages() const {
  OpenedPages o;
  for (lvPropPage *p : pages_) {
    if (!p->opened())
      continue;
    if (qobject_cast<lvPropJPG *>(p))
      o.jpg = true;
    else if (qobject_cast<lvPropGIF *>(p))
      o.gif = true;
    else if (qobject_cast<lvPropImg *>(p))
      o.png = true;
    else if (qobject_cast<lvPropTIF *>(p))
      o.tif = true;
  }
  return o;
}

void ShowImageOptions(QWidget *owner, const std::function<void()> &rerender) {
  lvImgOptionsFull sheet(QStringLiteral("Image Options"), owner, true);
  // The PDF page starts from the stored inside format, so confirming without touching it keeps that value.
  setPdfInsideFormat(RegGetUserString("PDF_Bitmp_Format").value_or(std::string()));
  FormatWorkingCopies &w = sheet.working();
  sheet.addPage(new lvPropJPG(w));
  sheet.addPage(new lvPropGIF(w));
  sheet.addPage(new lvPropImg(w));
  sheet.addPage(new lvPropBMP(w));
  sheet.addPage(new lvPropTIF(w));
  sheet.addPage(new lvPropPDF(w));
  sheet.setActivePage(ActiveSheetPage(settings()));
  if (RunDialog(sheet) != QDialog::Accepted)
    return;
  CommitFullSheet(sheet.working(), sheet.openedPages());
  if (rerender)
    rerender();
}

void ShowDefaultFormatOptions(QWidget *owner, const std::function<void()> &rerender) {
  const int which = DefaultFormatSheetPage(settings());
  if (which < 0)
    return;
  lvImgOptionsFull sheet(QStringLiteral("Image Format Options"), owner, false);
  FormatWorkingCopies &w = sheet.working();
  render::FormatCode code = render::FormatJPG;
  switch (which) {
  case PageJPG:
    sheet.addPage(new lvPropJPG(w));
    break;
  case PageGIF:
    sheet.addPage(new lvPropGIF(w));
    code = render::FormatGIF;
    break;
  case PagePNG:
    sheet.addPage(new lvPropImg(w));
    code = render::FormatPNG;
    break;
  default:
    sheet.addPage(new lvPropTIF(w));
    code = render::FormatTIF;
    break;
  }
  sheet.setActivePage(0);
  if (RunDialog(sheet) != QDialog::Accepted)
    return;
  CommitFormatValues(code, sheet.working(), sheet.openedPages());
  if (rerender)
    rerender();
}

void ShowPdfInsideFormat(QWidget *owner, int withPage) {
  // A sheet without pages shows nothing.
  if (withPage != 2)
    return;
  lvImgOptionsFull sheet(QStringLiteral("Image Format Options"), owner, false);
  setPdfInsideFormat(RegGetUserString("PDF_Bitmp_Format").value_or(std::string()));
  sheet.addPage(new lvPropPDF(sheet.working()));
  sheet.setActivePage(0);
  if (RunDialog(sheet) != QDialog::Accepted)
    return;
  RegSetUserString("PDF_Bitmp_Format", PdfInsideFormat());
}

} // namespace output
