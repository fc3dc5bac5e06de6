#include "render/resolution_dialog.h"

#include "render/resolution.h"
#include "settings/settings.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace render {
namespace {

constexpr double kInchPerMm = 0.03937007874015748;

// A spin holds 16-bit positions: the value is truncated to an integer and then to 16 bits.
int Pos16(double v) {
  if (!std::isfinite(v))
    return 0;
  const long long t = static_cast<long long>(std::clamp(v, -1e15, 1e15));
  return static_cast<int16_t>(static_cast<uint16_t>(t & 0xFFFF));
}

} // namespace

void CommitResolution(const ResolutionChoice &c) {
  Settings &s = settings();
  s.ResCur = s.ResCurWork = c.resolution;
  s.ScaleCur = s.ScaleCurWork = c.scale;
  s.CheckN = s.CheckNWork = c.choice;
  RegSetInt("ResCur", static_cast<int32_t>(std::clamp(c.resolution * 10.0, -2e9, 2e9)));
  RegSetInt("ScaleCur", c.scale);
  RegSetInt("CheckN", c.choice);
}

// ---- the rules ----

ResolutionModel::ResolutionModel(const ResolutionChoice &committed, double displayResolution, int mmW, int mmH)
    : w_(committed), display_(int(displayResolution)), mmW_(std::max(mmW, 0)), mmH_(std::max(mmH, 0)) {
  userEnabled_ = w_.choice == 2;
  const auto init = [this](Field f, int low, int high, double pos) {
    spins_[f].low = low;
    spins_[f].high = std::max(Pos16(high), low);
    setSpin(f, pos);
  };
  init(UserRes, 1, printerResolution(), std::trunc(w_.resolution));
  init(Scale, 1, 300, w_.scale);
  if (hasSize()) {
    // The resolution a render uses now, by the committed choice.
    double current = 100.0;
    switch (committed.choice) {
    case 0:
      current = displayResolution;
      break;
    case 1:
      current = kPrinterResolution;
      break;
    case 2:
      current = committed.resolution;
      break;
    default:
      break;
    }
    init(WidthMm, 1, mmW_, std::ceil(w_.scale * 0.01 * mmW_));
    init(HeightMm, 1, mmH_, std::ceil(w_.scale * 0.01 * mmH_));
    init(WidthPx, 1, int(std::ceil(mmW_ * 300 * kInchPerMm)), std::ceil(current * mmW_ * kInchPerMm * w_.scale * 0.01));
    init(HeightPx, 1, int(std::ceil(mmH_ * 300 * kInchPerMm)),
         std::ceil(current * mmH_ * kInchPerMm * w_.scale * 0.01));
  } else {
    // No page size yet: the size fields hold nothing and stay disabled.
    for (Field f : {WidthMm, HeightMm, WidthPx, HeightPx})
      spins_[f] = Spin{1, 1, 1, QString()};
  }
}

int ResolutionModel::printerResolution() const { return int(kPrinterResolution); }

double ResolutionModel::text(Field f) const {
  bool ok = false;
  const int v = spins_[f].text.trimmed().toInt(&ok);
  return ok ? v : 0;
}

void ResolutionModel::setSpin(Field f, double value) {
  Spin &s = spins_[f];
  s.pos = std::clamp(Pos16(value), s.low, s.high);
  s.text = QString::number(s.pos);
}

void ResolutionModel::setPixelSpinsFromScale() {
  if (!hasSize())
    return;
  setSpin(WidthPx, std::ceil(w_.scale * 0.01 * mmW_ * w_.resolution * kInchPerMm));
  setSpin(HeightPx, std::ceil(w_.scale * 0.01 * mmH_ * w_.resolution * kInchPerMm));
}

void ResolutionModel::step(Field f, int delta) {
  Spin &s = spins_[f];
  if ((f != UserRes && f != Scale && !hasSize()) || (f == UserRes && !userEnabled_))
    return;
  // The spin takes its edit's number as its position when it is one it can hold.
  bool ok = false;
  const int shown = s.text.trimmed().toInt(&ok);
  if (ok && shown >= s.low && shown <= s.high)
    s.pos = shown;
  setSpin(f, std::clamp(s.pos + delta, s.low, s.high));
  spinRule(f);
}

void ResolutionModel::spinRule(Field f) {
  const double F = kInchPerMm;
  switch (f) {
  case UserRes:
    w_.resolution = text(UserRes);
    setPixelSpinsFromScale();
    break;
  case Scale:
    w_.scale = int(text(Scale));
    if (!hasSize())
      break;
    setSpin(WidthMm, std::ceil(w_.scale * 0.01 * mmW_));
    setSpin(HeightMm, std::ceil(w_.scale * 0.01 * mmH_));
    setSpin(WidthPx, std::ceil(text(WidthMm) * w_.resolution * F));
    setSpin(HeightPx, std::ceil(text(HeightMm) * w_.resolution * F));
    break;
  case WidthMm:
    w_.scale = int(std::ceil(text(WidthMm) * 100 / mmW_));
    setSpin(Scale, w_.scale);
    setSpin(HeightMm, std::ceil(mmH_ * w_.scale * 0.01));
    setSpin(WidthPx, std::ceil(text(WidthMm) * w_.resolution * F));
    setSpin(HeightPx, std::ceil(text(HeightMm) * w_.resolution * F));
    break;
  case HeightMm:
    w_.scale = int(std::ceil(text(HeightMm) * 100 / mmH_));
    setSpin(Scale, w_.scale);
    setSpin(WidthMm, std::ceil(w_.scale * mmW_ * 0.01));
    setSpin(WidthPx, std::ceil(text(WidthMm) * w_.resolution * F));
    setSpin(HeightPx, std::ceil(text(HeightMm) * w_.resolution * F));
    break;
  case WidthPx:
  case HeightPx: {
    // A pixel size asks for the resolution that gives it: user-defined from here on.
    const bool width = f == WidthPx;
    w_.choice = 2;
    userEnabled_ = true;
    const double mm = text(width ? WidthMm : HeightMm);
    if (mm > 0) // an empty millimetre field leaves the resolution as it is
      w_.resolution = text(f) / (mm * F);
    setSpin(UserRes, std::trunc(w_.resolution));
    if (width)
      setSpin(HeightPx, std::ceil(text(HeightMm) * w_.resolution * F));
    else
      setSpin(WidthPx, std::ceil(text(WidthMm) * w_.resolution * F));
    break;
  }
  case FieldCount:
    break;
  }
}

void ResolutionModel::typed(Field f, const QString &typedText) {
  Spin &s = spins_[f];
  s.text = typedText;
  const double n = text(f);
  switch (f) {
  case UserRes:
    w_.resolution = std::clamp(n, 1.0, double(printerResolution()));
    break;
  case WidthMm:
  case HeightMm:
    if (hasSize())
      w_.scale = std::clamp(int(std::ceil(n * 100 / (f == WidthMm ? mmW_ : mmH_))), 1, 300);
    break;
  case WidthPx:
  case HeightPx: {
    if (!hasSize())
      break;
    w_.choice = 2;
    userEnabled_ = true;
    // The spin follows the typed number; the edit keeps what is typed.
    s.pos = std::clamp(Pos16(n), s.low, s.high);
    const double mm = text(f == WidthPx ? WidthMm : HeightMm);
    if (n >= 1 && mm > 0)
      w_.resolution = n / (mm * kInchPerMm);
    break;
  }
  case Scale:
    w_.scale = std::clamp(int(n), 1, 300);
    break;
  case FieldCount:
    break;
  }
}

void ResolutionModel::choose(int c) {
  switch (c) {
  case 0:
    w_.resolution = display_;
    break;
  case 1:
    w_.resolution = printerResolution();
    break;
  case 2:
    w_.resolution = std::clamp(text(UserRes), 1.0, double(printerResolution()));
    break;
  default:
    return;
  }
  w_.choice = c;
  userEnabled_ = c == 2;
  setPixelSpinsFromScale();
}

// ---- the arrows ----

SpinArrows::SpinArrows(QWidget *parent) : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  for (QToolButton *b : {up_, down_}) {
    b->setArrowType(b == up_ ? Qt::UpArrow : Qt::DownArrow);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(16, 11);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { emit stepped(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

// ---- the dialog ----

ResolutionDialog::ResolutionDialog(const ResolutionChoice &committed, double displayResolution, int mmW, int mmH,
                                   QWidget *parent)
    : QDialog(parent), model_(committed, displayResolution, mmW, mmH) {
  using F = ResolutionModel::Field;
  setWindowTitle(QStringLiteral("Image Resolution and Dimension"));
  setObjectName(QStringLiteral("resolutionDialog"));
  const auto numberEdit = [this](const QString &name) {
    auto *e = new QLineEdit(this);
    e->setObjectName(name);
    e->setMaxLength(6);
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,6}")), e));
    e->setFixedWidth(60);
    e->setAlignment(Qt::AlignRight);
    return e;
  };
  const auto field = [&](F f, const QString &id) {
    edits_[f] = numberEdit(QStringLiteral("edit") + id);
    arrows_[f] = new SpinArrows(this);
    edits_[f]->installEventFilter(this);
    connect(edits_[f], &QLineEdit::textEdited, this, [this, f](const QString &t) {
      model_.typed(f, t);
      sync();
    });
    connect(arrows_[f], &SpinArrows::stepped, this, [this, f](int delta) {
      edits_[f]->setFocus(); // the arrows hand the focus to their edit
      model_.step(f, delta);
      sync();
    });
  };

  // Resolution.
  auto *resBox = new QGroupBox(QStringLiteral("Resolution"), this);
  auto *resGrid = new QGridLayout(resBox);
  const QString names[] = {QStringLiteral("Display"), QStringLiteral("Printer"), QStringLiteral("User-defined")};
  for (int i = 0; i < 3; ++i) {
    radios_[size_t(i)] = new QRadioButton(names[i], resBox);
    resGrid->addWidget(radios_[size_t(i)], i, 0);
    connect(radios_[size_t(i)], &QRadioButton::clicked, this, [this, i] {
      model_.choose(i);
      sync();
    });
  }
  displayEdit_ = numberEdit(QStringLiteral("edit1008"));
  printerEdit_ = numberEdit(QStringLiteral("edit1015"));
  displayEdit_->setReadOnly(true);
  printerEdit_->setReadOnly(true);
  displayEdit_->setText(QString::number(model_.displayResolution()));
  printerEdit_->setText(QString::number(model_.printerResolution()));
  field(F::UserRes, QStringLiteral("1018"));
  resGrid->addWidget(displayEdit_, 0, 1);
  resGrid->addWidget(printerEdit_, 1, 1);
  resGrid->addWidget(edits_[F::UserRes], 2, 1);
  resGrid->addWidget(arrows_[F::UserRes], 2, 2);
  for (int i = 0; i < 3; ++i)
    resGrid->addWidget(new QLabel(QStringLiteral("dpi"), resBox), i, 3);

  // Dimension.
  auto *dimBox = new QGroupBox(QStringLiteral("Dimension"), this);
  auto *dimGrid = new QGridLayout(dimBox);
  field(F::WidthMm, QStringLiteral("1019"));
  field(F::HeightMm, QStringLiteral("1020"));
  field(F::WidthPx, QStringLiteral("1021"));
  field(F::HeightPx, QStringLiteral("1022"));
  field(F::Scale, QStringLiteral("1023"));
  dimGrid->addWidget(new QLabel(QStringLiteral("Width:"), dimBox), 0, 0);
  dimGrid->addWidget(new QLabel(QStringLiteral("Height:"), dimBox), 1, 0);
  const std::pair<F, F> rows[] = {{F::WidthMm, F::WidthPx}, {F::HeightMm, F::HeightPx}};
  for (int r = 0; r < 2; ++r) {
    dimGrid->addWidget(edits_[rows[r].first], r, 1);
    dimGrid->addWidget(arrows_[rows[r].first], r, 2);
    dimGrid->addWidget(new QLabel(QStringLiteral("mm"), dimBox), r, 3);
    dimGrid->addWidget(edits_[rows[r].second], r, 4);
    dimGrid->addWidget(arrows_[rows[r].second], r, 5);
    dimGrid->addWidget(new QLabel(QStringLiteral("pixels"), dimBox), r, 6);
  }
  dimGrid->addWidget(new QLabel(QStringLiteral("Scale:"), dimBox), 2, 0);
  dimGrid->addWidget(edits_[F::Scale], 2, 1);
  dimGrid->addWidget(arrows_[F::Scale], 2, 2);
  dimGrid->addWidget(new QLabel(QStringLiteral("%"), dimBox), 2, 3);

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  QPushButton *help = buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole);
  help->setObjectName(QStringLiteral("help1014"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, &ResolutionDialog::helpRequested);

  auto *layout = new QVBoxLayout(this);
  layout->addWidget(resBox);
  layout->addWidget(dimBox);
  layout->addWidget(buttons);
  sync();
}

void ResolutionDialog::sync() {
  using F = ResolutionModel::Field;
  for (int i = 0; i < 3; ++i) {
    const QSignalBlocker block(radios_[size_t(i)]);
    radios_[size_t(i)]->setChecked(model_.choice() == i);
  }
  for (int f = 0; f < F::FieldCount; ++f) {
    const auto &spin = model_.spin(F(f));
    if (edits_[size_t(f)]->text() != spin.text)
      edits_[size_t(f)]->setText(spin.text);
    const bool enabled = f == F::UserRes ? model_.userEnabled() : (f == F::Scale || model_.hasSize());
    edits_[size_t(f)]->setEnabled(enabled);
    arrows_[size_t(f)]->setEnabled(enabled);
  }
}

bool ResolutionDialog::eventFilter(QObject *watched, QEvent *event) {
  // The arrow keys in a number edit work its spin.
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent *>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      for (int f = 0; f < ResolutionModel::FieldCount; ++f)
        if (watched == edits_[size_t(f)]) {
          model_.step(ResolutionModel::Field(f), key == Qt::Key_Up ? 1 : -1);
          sync();
          return true;
        }
    }
  }
  return QDialog::eventFilter(watched, event);
}

} // namespace render
