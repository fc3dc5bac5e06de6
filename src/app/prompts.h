// Message boxes, the save-file question and modal dialogs of the main window, all through one place so that a test
// can answer them instead of a user.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace frame {

// One message box as the program asks it.
struct MessageRequest {
  QWidget *owner = nullptr;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QString caption;
  QString text;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  bool systemModal = false; // kept above every other window
};

// What a test puts in place of the user. An empty function leaves that kind of prompt to the user.
struct PromptHooks {
  // Returns the button pressed.
  std::function<QMessageBox::StandardButton(const MessageRequest &)> message;
  // Returns the chosen file name, empty for Cancel.
  std::function<QString(const QString &caption, const QString &proposedPath, const QString &filter)> saveFileName;
  // Runs a modal dialog (built, not yet shown) and returns its result (QDialog::Accepted or Rejected).
  std::function<int(QDialog &)> dialog;
};
void setPromptHooks(PromptHooks hooks);

QMessageBox::StandardButton ShowMessage(const MessageRequest &request);
// "Save as" question starting at proposedPath (folder and proposed file name). Empty result: cancelled.
QString AskSaveFileName(QWidget *owner, const QString &caption, const QString &proposedPath, const QString &filter);
// Runs dialog modally (or hands it to the test hook) and returns its result.
int RunDialog(QDialog &dialog);

} // namespace frame
