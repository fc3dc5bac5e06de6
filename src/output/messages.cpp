#include "output/messages.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>

namespace output {

namespace {

std::function<int(const MessageRequest &)> g_messageHook;
std::function<int(QDialog &)> g_dialogHook;
QString g_applicationTitle;

} // namespace

int ShowMessage(const MessageRequest &request) {
  if (g_messageHook)
    return g_messageHook(request);
  QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.owner);
  for (const auto &[button, text] : request.buttonTexts)
    if (QAbstractButton *b = box.button(button))
      b->setText(text);
  if (request.systemModal) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  }
  return box.exec();
}

void setMessageHook(std::function<int(const MessageRequest &)> hook) { g_messageHook = std::move(hook); }

int RunDialog(QDialog &dialog) {
  if (g_dialogHook)
    return g_dialogHook(dialog);
  return dialog.exec();
}

void setDialogHook(std::function<int(QDialog &)> hook) { g_dialogHook = std::move(hook); }

QString ApplicationTitle() {
  return g_applicationTitle.isEmpty() ? QCoreApplication::applicationName() : g_applicationTitle;
}

void setApplicationTitle(const QString &title) { g_applicationTitle = title; }

} // namespace output
