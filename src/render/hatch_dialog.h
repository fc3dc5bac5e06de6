// "Hatch Settings": the page background on or off, its colour, and the line grid drawn over it (line colour,
// width, spacing, angle, the two line families), with a live preview drawn with the values being edited.
#pragma once

#include <QDialog>
#include <QRect>
#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace render {

// The background values the dialog edits. Colours are 0x00BBGGRR.
struct HatchValues {
  int style = 100;
  uint32_t hatchColor = 0xA83E3E;
  uint32_t backgroundColor = 0x80FF80;
  int width = 0;
  int spacing = 8;
  int angle = 0;
  bool linesHorizontal = true;
  bool linesVertical = true;
  bool operator==(const HatchValues &) const = default;
};

// The stored values as the dialog starts from them: the style read again from the settings key (the value in
// memory when the key holds none), the rest from the settings in memory.
HatchValues StoredHatchValues();
// Stores and writes the values of `working` that differ from `stored`, in the order lvBkGrHathStyle, lvHatchColor,
// lvCurBkGrColor, lvHatchWidth, lvHatchDepress, lvHatchAngle, lvHatchLnHor, lvHatchLnVert. Returns how many.
int StoreHatchChanges(const HatchValues &stored, const HatchValues &working);

class lvSetHatchDlg : public QDialog {
  Q_OBJECT
public:
  // Places in client pixels: the two colour swatches and the preview.
  static constexpr QRect kBackgroundSwatch{10, 10, 30, 20};
  static constexpr QRect kHatchSwatch{10, 35, 30, 20};
  static constexpr QRect kPreview{162, 11, 155, 156};

  explicit lvSetHatchDlg(QWidget *parent = nullptr);

  const HatchValues &stored() const { return stored_; }
  const HatchValues &working() const { return working_; }

  // The colour chooser: given the colour to start from, the chosen colour or nothing for Cancel. By default the
  // platform's colour dialog.
  using ColorChooser = std::function<std::optional<QColor>(const QColor &initial)>;
  void setColorChooser(ColorChooser chooser) { chooser_ = std::move(chooser); }

  QCheckBox *horizontalBox() const { return horizontal_; }
  QCheckBox *verticalBox() const { return vertical_; }
  QCheckBox *showBackgroundBox() const { return showBackground_; }
  QSpinBox *widthSpin() const { return width_; }
  QSpinBox *spacingSpin() const { return spacing_; }
  QSpinBox *angleSpin() const { return angle_; }
  // The preview as drawn from the working values (the picture inside the blue frame).
  QImage previewImage() const;

  // OK: stores the changed values, then closes.
  void accept() override;

signals:
  void helpRequested();

protected:
  void paintEvent(QPaintEvent *) override;
  void mouseMoveEvent(QMouseEvent *e) override;
  void mousePressEvent(QMouseEvent *e) override;

private:
  void applyEnabling();
  void chooseColor(bool background);

  HatchValues stored_;
  HatchValues working_;
  ColorChooser chooser_;
  QCheckBox *horizontal_;
  QCheckBox *vertical_;
  QCheckBox *showBackground_;
  QSpinBox *width_;
  QSpinBox *spacing_;
  QSpinBox *angle_;
  QList<QWidget *> lineControls_; // enabled only while the background is shown
};

} // namespace render
