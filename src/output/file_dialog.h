// The save dialog of the output commands: a file save dialog with the check box "Invoke Image Options" directly
// below its file type box, and the confirm loop that every export command runs around it.
#pragma once

#include <QFileDialog>
#include <functional>
#include <optional>

class QCheckBox;

namespace output {

class lvFileDlg : public QFileDialog {
  Q_OBJECT
public:
  // filters: "Text (*.ext)" entries, shown without their pattern; preselected: 1-based filter index.
  lvFileDlg(QWidget *owner, const QStringList &filters, int preselected, const QString &folder,
            bool invokeImageOptions);

  QCheckBox *invokeOptionsBox() const { return box_; }
  bool invokeImageOptions() const;
  // The 1-based index of the chosen filter (0 when none matches).
  int chosenFilter() const;
  // The confirmed path (folder and file name as typed).
  QString chosenPath() const;

private:
  QCheckBox *box_ = nullptr;
};

// The 1-based index of the file type chosen in a file dialog of ours (0 when none).
int ChosenFilter(const QFileDialog &dialog);

// What the user confirmed in a save dialog.
struct SaveChoice {
  QString folder;     // ends in "/", already stored as "SavePath"
  QString name;       // the output name: the file title
  int filter = 1;     // 1-based filter index
  bool invokeOptions; // the check box's state (the working copy of "SaveFile_Opt")
};

// Runs the dialog until the user cancels (nothing) or confirms a choice that is not refused:
//  - on every OK the folder is stored as "SavePath" and confirmed(choice) runs (the caller's step: default format,
//    "SaveFile_Opt");
//  - existingTarget(choice) names the file whose existence is asked about (" already exists. Replace?", "Save As");
//    an empty name asks nothing. Any answer but Yes shows the dialog again with the same state.
std::optional<SaveChoice> RunSaveDialog(lvFileDlg &dialog, const std::function<void(const SaveChoice &)> &confirmed,
                                        const std::function<QString(const SaveChoice &)> &existingTarget);

// Asks " already exists. Replace?" about path when a file of that name exists; true when it does not exist or the
// user answers Yes.
bool ConfirmReplace(const QString &path);

} // namespace output
