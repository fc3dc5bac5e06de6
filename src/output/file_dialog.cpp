#include "output/file_dialog.h"

#include "output/messages.h"
#include "output/output_names.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>

namespace output {

lvFileDlg::lvFileDlg(QWidget *owner, const QStringList &filters, int preselected, const QString &folder,
                     bool invokeImageOptions)
    : QFileDialog(owner) {
  setObjectName(QStringLiteral("lvFileDlg"));
  // The dialog of our own, so the check box can live inside it.
  setOption(QFileDialog::DontUseNativeDialog);
  // The commands ask about the file they will really write, which is not the typed name.
  setOption(QFileDialog::DontConfirmOverwrite);
  setOption(QFileDialog::HideNameFilterDetails);
  setAcceptMode(QFileDialog::AcceptSave);
  setFileMode(QFileDialog::AnyFile);
  setNameFilters(filters);
  if (preselected >= 1 && preselected <= filters.size())
    selectNameFilter(filters[preselected - 1]);
  setDirectory(folder);
  selectFile(QStringLiteral("Document"));

  box_ = new QCheckBox(QStringLiteral("Invoke Image Options"), this);
  box_->setObjectName(QStringLiteral("invokeImageOptions"));
  box_->setChecked(invokeImageOptions);
  // Directly below the file type box, its left edge on the box's left edge.
  auto *grid = qobject_cast<QGridLayout *>(layout());
  auto *typeBox = findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
  const int at = grid && typeBox ? grid->indexOf(typeBox) : -1;
  if (at >= 0) {
    int row = 0, column = 0, rowSpan = 1, columnSpan = 1;
    grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
    grid->addWidget(box_, row + rowSpan, column, 1, columnSpan, Qt::AlignLeft | Qt::AlignTop);
    grid->setRowMinimumHeight(row + rowSpan, 30);
  } else if (grid) {
    grid->addWidget(box_, grid->rowCount(), 0, 1, grid->columnCount());
  }
}

bool lvFileDlg::invokeImageOptions() const { return box_->isChecked(); }

int ChosenFilter(const QFileDialog &dialog) {
  // With the patterns hidden the dialog names its filter by the shown text: the position in the type box tells.
  if (const auto *type = dialog.findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
    return type->currentIndex() + 1;
  return int(dialog.nameFilters().indexOf(dialog.selectedNameFilter())) + 1;
}

int lvFileDlg::chosenFilter() const { return ChosenFilter(*this); }

QString lvFileDlg::chosenPath() const {
  const QStringList files = selectedFiles();
  return files.isEmpty() ? QString() : files.front();
}

bool ConfirmReplace(const QString &path) {
  if (path.isEmpty() || !QFileInfo::exists(path))
    return true;
  MessageRequest ask;
  ask.text = path + QStringLiteral(" already exists. Replace?");
  ask.caption = QString::fromLatin1(kSaveAsCaption);
  ask.icon = QMessageBox::Warning;
  ask.buttons = QMessageBox::Yes | QMessageBox::No;
  return ShowMessage(ask) == QMessageBox::Yes;
}

std::optional<SaveChoice> RunSaveDialog(lvFileDlg &dialog, const std::function<void(const SaveChoice &)> &confirmed,
                                        const std::function<QString(const SaveChoice &)> &existingTarget) {
  for (;;) {
    if (RunDialog(dialog) != QDialog::Accepted)
      return std::nullopt;
    const QString path = dialog.chosenPath();
    if (path.isEmpty())
      return std::nullopt;
    SaveChoice choice;
    choice.folder = StoreOutputFolder(path);
    choice.name = FileTitle(path);
    choice.filter = std::clamp(dialog.chosenFilter(), 1, int(dialog.nameFilters().size()));
    choice.invokeOptions = dialog.invokeImageOptions();
    if (confirmed)
      confirmed(choice);
    if (ConfirmReplace(existingTarget ? existingTarget(choice) : QString()))
      return choice;
  }
}

} // namespace output
