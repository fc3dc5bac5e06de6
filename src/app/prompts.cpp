#include "app/prompts.h"

#include <QDialog>
#include <QFileDialog>

namespace frame {
namespace {

PromptHooks &hooks() {
  static PromptHooks h;
  return h;
}

} // namespace

void setPromptHooks(PromptHooks h) { hooks() = std::move(h); }

QMessageBox::StandardButton ShowMessage(const MessageRequest &r) {
  if (hooks().message)
    return hooks().message(r);
  QMessageBox box(r.icon, r.caption, r.text, r.buttons, r.owner);
  box.setWindowModality(Qt::ApplicationModal);
  if (r.systemModal)
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString AskSaveFileName(QWidget *owner, const QString &caption, const QString &proposedPath, const QString &filter) {
  if (hooks().saveFileName)
    return hooks().saveFileName(caption, proposedPath, filter);
  return QFileDialog::getSaveFileName(owner, caption, proposedPath, filter);
}

int RunDialog(QDialog &dialog) {
  if (hooks().dialog)
    return hooks().dialog(dialog);
  return dialog.exec();
}

} // namespace frame
