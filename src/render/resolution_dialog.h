// "Image Resolution and Dimension": the resolution (display, printer or user-defined), the page size in millimetres
// and in pixels, and the scale, five views of one choice kept in step. ResolutionModel holds the rules without any
// window; ResolutionDialog shows them.
#pragma once

#include <QDialog>
#include <QString>
#include <array>

class QLineEdit;
class QRadioButton;
class QToolButton;

namespace render {

// The committed values the dialog starts from and hands back on OK.
struct ResolutionChoice {
  int choice = 2;          // 0 display, 1 printer, 2 user-defined
  double resolution = 100; // the user resolution, dots per inch
  int scale = 100;         // percent
};

// Copies a confirmed choice into the settings and stores "ResCur" (dots per inch x 10, truncated), "ScaleCur" and
// "CheckN", in that order.
void CommitResolution(const ResolutionChoice &c);

class ResolutionModel {
public:
  // The fields with a spin, by the id of their number edit.
  enum Field { UserRes = 0, WidthMm, HeightMm, WidthPx, HeightPx, Scale, FieldCount };
  // A spin and the number edit it writes: range and position (16-bit, as the spin holds them) and the edit's text.
  struct Spin {
    int low = 1, high = 1, pos = 1;
    QString text;
  };

  // mmW and mmH: the current page's size in whole millimetres (0 when no page has a size yet).
  ResolutionModel(const ResolutionChoice &committed, double displayResolution, int mmW, int mmH);

  const ResolutionChoice &working() const { return w_; }
  double U() const { return w_.resolution; }
  int S() const { return w_.scale; }
  int choice() const { return w_.choice; }
  bool userEnabled() const { return userEnabled_; }
  // Whether the page has a size; without one the millimetre and pixel fields stay disabled.
  bool hasSize() const { return mmW_ > 0 && mmH_ > 0; }
  const Spin &spin(Field f) const { return spins_[f]; }
  int displayResolution() const { return display_; }
  int printerResolution() const;

  // A click on a spin's arrow (delta +1 or -1): the spin reads its edit (when that holds a number in range), steps
  // within its range, rewrites the edit, then the field's rule runs.
  void step(Field f, int delta);
  // The user typed in a field's edit (that edit has the focus): the typing rule of that field.
  void typed(Field f, const QString &text);
  // A radio button: 0 display, 1 printer, 2 user-defined.
  void choose(int choice);

private:
  double text(Field f) const; // the number in a field's edit, 0 when it holds none
  void setSpin(Field f, double value);
  void spinRule(Field f);
  void setPixelSpinsFromScale();

  ResolutionChoice w_;
  int display_;
  int mmW_, mmH_;
  bool userEnabled_ = false;
  std::array<Spin, FieldCount> spins_;
};

// Two small arrow buttons beside a number edit (the up-down control).
class SpinArrows : public QWidget {
  Q_OBJECT
public:
  explicit SpinArrows(QWidget *parent = nullptr);
  QToolButton *upButton() const { return up_; }
  QToolButton *downButton() const { return down_; }

signals:
  void stepped(int delta);

private:
  QToolButton *up_;
  QToolButton *down_;
};

class ResolutionDialog : public QDialog {
  Q_OBJECT
public:
  ResolutionDialog(const ResolutionChoice &committed, double displayResolution, int mmW, int mmH,
                   QWidget *parent = nullptr);

  const ResolutionModel &model() const { return model_; }
  // The values to commit on OK.
  ResolutionChoice working() const { return model_.working(); }

  QRadioButton *radio(int choice) const { return radios_[size_t(choice)]; }
  QLineEdit *displayEdit() const { return displayEdit_; }
  QLineEdit *printerEdit() const { return printerEdit_; }
  QLineEdit *edit(ResolutionModel::Field f) const { return edits_[f]; }
  SpinArrows *arrows(ResolutionModel::Field f) const { return arrows_[f]; }

signals:
  void helpRequested();

protected:
  bool eventFilter(QObject *watched, QEvent *event) override;

private:
  void sync();

  ResolutionModel model_;
  std::array<QRadioButton *, 3> radios_{};
  QLineEdit *displayEdit_;
  QLineEdit *printerEdit_;
  std::array<QLineEdit *, ResolutionModel::FieldCount> edits_{};
  std::array<SpinArrows *, ResolutionModel::FieldCount> arrows_{};
};

} // namespace render
