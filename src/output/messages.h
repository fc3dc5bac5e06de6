// Message boxes and modal dialogs of the output commands. Each goes through one function, so tests can answer
// them through a hook instead of a person.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>
#include <map>

class QDialog;
class QWidget;

namespace output {

inline constexpr const char *kSaveAsCaption = "Save As";
inline constexpr const char *kExportCaption = "Tarvik Folvex Message";

struct MessageRequest {
  QString text;
  QString caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QWidget *owner = nullptr; // an export's questions belong to the preview window unless ownerless is set
  bool ownerless = false;
  bool systemModal = false; // kept above every other window
  // Buttons that carry a text of their own.
  std::map<QMessageBox::StandardButton, QString> buttonTexts;
};

// Shows the message modally (GUI thread) and returns the button chosen (QMessageBox::StandardButton).
int ShowMessage(const MessageRequest &request);
// Tests answer the messages themselves: the hook receives each request instead of a box being shown.
void setMessageHook(std::function<int(const MessageRequest &)> hook);

// Runs a dialog modally (GUI thread) and returns its result; a hook set by a test drives the dialog instead.
int RunDialog(QDialog &dialog);
void setDialogHook(std::function<int(QDialog &)> hook);

// The title of the application's own message boxes.
QString ApplicationTitle();
void setApplicationTitle(const QString &title);

} // namespace output
