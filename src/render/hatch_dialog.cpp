#include "render/hatch_dialog.h"

#include "render/background.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <algorithm>
#include <type_traits>

namespace render {
namespace {

QColor ColorOf(uint32_t c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
uint32_t ColorRef(const QColor &c) { return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16; }

void FrameBlue(QPainter &p, const QRect &r) {
  p.setPen(QColor(0, 0, 255));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

HatchValues StoredHatchValues() {
  const Settings &s = settings();
  HatchValues v;
  const int32_t style = RegGetInt("lvBkGrHathStyle");
  v.style = style == -1 ? s.lvBkGrHathStyle : style;
  v.hatchColor = s.lvHatchColor;
  v.backgroundColor = s.lvCurBkGrColor;
  v.width = s.lvHatchWidth;
  v.spacing = s.lvHatchDepress;
  v.angle = s.lvHatchAngle;
  v.linesHorizontal = s.lvHatchLnHor;
  v.linesVertical = s.lvHatchLnVert;
  return v;
}

int StoreHatchChanges(const HatchValues &stored, const HatchValues &w) {
  Settings &s = settings();
  int written = 0;
  const auto store = [&written](bool changed, const char *name, int32_t value, auto &target) {
    if (!changed)
      return;
    target = static_cast<std::remove_reference_t<decltype(target)>>(value);
    RegSetInt(name, value);
    ++written;
  };
  store(w.style != stored.style, "lvBkGrHathStyle", w.style, s.lvBkGrHathStyle);
  store(w.hatchColor != stored.hatchColor, "lvHatchColor", int32_t(w.hatchColor), s.lvHatchColor);
  store(w.backgroundColor != stored.backgroundColor, "lvCurBkGrColor", int32_t(w.backgroundColor), s.lvCurBkGrColor);
  store(w.width != stored.width, "lvHatchWidth", w.width, s.lvHatchWidth);
  store(w.spacing != stored.spacing, "lvHatchDepress", w.spacing, s.lvHatchDepress);
  store(w.angle != stored.angle, "lvHatchAngle", w.angle, s.lvHatchAngle);
  store(w.linesHorizontal != stored.linesHorizontal, "lvHatchLnHor", w.linesHorizontal ? 1 : 0, s.lvHatchLnHor);
  store(w.linesVertical != stored.linesVertical, "lvHatchLnVert", w.linesVertical ? 1 : 0, s.lvHatchLnVert);
  return written;
}

lvSetHatchDlg::lvSetHatchDlg(QWidget *parent) : QDialog(parent), stored_(StoredHatchValues()), working_(stored_) {
  setWindowTitle(QStringLiteral("Hatch Settings"));
  setObjectName(QStringLiteral("hatchDialog"));
  setFixedSize(330, 266);
  setMouseTracking(true);

  auto *bgLabel = new QLabel(QStringLiteral("background color"), this);
  bgLabel->setGeometry(46, 10, 110, 20);
  auto *hatchLabel = new QLabel(QStringLiteral("hatch color"), this);
  hatchLabel->setGeometry(46, 35, 110, 20);

  horizontal_ = new QCheckBox(QStringLiteral("Horizontal lines"), this);
  horizontal_->setObjectName(QStringLiteral("check1006"));
  horizontal_->setGeometry(10, 62, 145, 20);
  vertical_ = new QCheckBox(QStringLiteral("Vertical lines"), this);
  vertical_->setObjectName(QStringLiteral("check1007"));
  vertical_->setGeometry(10, 82, 145, 20);
  showBackground_ = new QCheckBox(QStringLiteral("show background"), this);
  showBackground_->setObjectName(QStringLiteral("check1008"));
  showBackground_->setGeometry(10, 102, 145, 20);

  const auto numberRow = [this](int y, const QString &label, const QString &unit, int high, int value, int *target,
                                const QString &name) {
    auto *l = new QLabel(label, this);
    l->setGeometry(10, y, 88, 22);
    auto *spin = new QSpinBox(this);
    spin->setObjectName(name);
    spin->setRange(0, high);
    spin->setValue(std::clamp(value, 0, high));
    spin->setGeometry(100, y, 56, 22);
    auto *u = new QLabel(unit, this);
    u->setGeometry(160, y, 70, 22);
    // Typing or the arrows: the number becomes the working value and the preview follows.
    connect(spin, &QSpinBox::valueChanged, this, [this, target](int v) {
      *target = v;
      update(kPreview);
    });
    lineControls_ << l << spin << u;
    return spin;
  };
  width_ = numberRow(178, QStringLiteral("line width:"), QStringLiteral(" pt"), 100, working_.width, &working_.width,
                     QStringLiteral("edit1023"));
  spacing_ = numberRow(204, QStringLiteral("line spacing:"), QStringLiteral(" pt"), 100, working_.spacing,
                       &working_.spacing, QStringLiteral("edit1025"));
  angle_ = numberRow(230, QStringLiteral("line angle:"), QStringLiteral(" degree"), 90, working_.angle, &working_.angle,
                     QStringLiteral("edit1027"));
  lineControls_ << horizontal_ << vertical_ << bgLabel << hatchLabel;

  horizontal_->setChecked(working_.linesHorizontal);
  vertical_->setChecked(working_.linesVertical);
  showBackground_->setChecked(working_.style < 100);
  connect(horizontal_, &QCheckBox::toggled, this, [this](bool on) {
    working_.linesHorizontal = on;
    update(kPreview);
  });
  connect(vertical_, &QCheckBox::toggled, this, [this](bool on) {
    working_.linesVertical = on;
    update(kPreview);
  });
  // Turning the background on always chooses the line grid.
  connect(showBackground_, &QCheckBox::toggled, this, [this](bool on) {
    working_.style = on ? 4 : 100;
    applyEnabling();
  });

  auto *ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
  auto *help = new QPushButton(QStringLiteral("Help"), this);
  help->setObjectName(QStringLiteral("helpButton"));
  ok->setGeometry(245, 178, 72, 24);
  cancel->setGeometry(245, 206, 72, 24);
  help->setGeometry(245, 234, 72, 24);
  connect(ok, &QPushButton::clicked, this, &lvSetHatchDlg::accept);
  connect(cancel, &QPushButton::clicked, this, &lvSetHatchDlg::reject);
  connect(help, &QPushButton::clicked, this, &lvSetHatchDlg::helpRequested);

  chooser_ = [this](const QColor &initial) -> std::optional<QColor> {
    const QColor c = QColorDialog::getColor(initial, this, QStringLiteral("Color"));
    return c.isValid() ? std::optional<QColor>(c) : std::nullopt;
  };
  applyEnabling();
}

void lvSetHatchDlg::applyEnabling() {
  const bool on = working_.style < 100;
  for (QWidget *w : lineControls_)
    w->setEnabled(on);
  if (!on)
    unsetCursor();
  update();
}

QImage lvSetHatchDlg::previewImage() const {
  QImage img(kPreview.size(), QImage::Format_RGB32);
  QPainter p(&img);
  BackgroundParams bp;
  bp.style = 4; // the preview always shows the line grid
  bp.backgroundColor = working_.backgroundColor;
  bp.hatchColor = working_.hatchColor;
  bp.width = working_.width;
  bp.spacing = working_.spacing;
  bp.depress = working_.spacing;
  bp.angle = working_.angle;
  bp.linesHorizontal = working_.linesHorizontal;
  bp.linesVertical = working_.linesVertical;
  bp.m = 1; // the pen is not scaled
  PaintBackground(p, QRect(QPoint(0, 0), kPreview.size()), 0, bp);
  return img;
}

void lvSetHatchDlg::paintEvent(QPaintEvent *) {
  QPainter p(this);
  // The grid is drawn on its own picture, so nothing of it reaches the margins around the preview.
  p.drawImage(kPreview.topLeft(), previewImage());
  FrameBlue(p, kPreview);
  p.fillRect(kBackgroundSwatch, ColorOf(working_.backgroundColor));
  FrameBlue(p, kBackgroundSwatch);
  p.fillRect(kHatchSwatch, ColorOf(working_.hatchColor));
  FrameBlue(p, kHatchSwatch);
}

void lvSetHatchDlg::mouseMoveEvent(QMouseEvent *e) {
  const QPoint pt = e->position().toPoint();
  const bool onSwatch = working_.style < 100 && (kBackgroundSwatch.contains(pt) || kHatchSwatch.contains(pt));
  if (onSwatch)
    setCursor(Qt::PointingHandCursor);
  else
    unsetCursor();
  QDialog::mouseMoveEvent(e);
}

void lvSetHatchDlg::mousePressEvent(QMouseEvent *e) {
  const QPoint pt = e->position().toPoint();
  if (e->button() == Qt::LeftButton && working_.style < 100) {
    if (kBackgroundSwatch.contains(pt))
      chooseColor(true);
    else if (kHatchSwatch.contains(pt))
      chooseColor(false);
  }
  QDialog::mousePressEvent(e);
}

void lvSetHatchDlg::chooseColor(bool background) {
  uint32_t &colour = background ? working_.backgroundColor : working_.hatchColor;
  const std::optional<QColor> chosen = chooser_ ? chooser_(ColorOf(colour)) : std::nullopt;
  // Cancel goes back to the stored colour; either way the swatches show what the dialog now holds.
  colour = chosen ? ColorRef(*chosen) : (background ? stored_.backgroundColor : stored_.hatchColor);
  update();
}

void lvSetHatchDlg::accept() {
  StoreHatchChanges(stored_, working_);
  stored_ = working_;
  QDialog::accept();
}

} // namespace render
