#include "platform/help_window.h"

#include "platform/paths.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

namespace platform {
namespace {

QPointer<QWidget> g_window;
QPointer<QTextBrowser> g_browser;

} // namespace

QString helpFolder() {
  QString base = QString::fromStdString(installFolder());
  if (base.isEmpty() || !QFileInfo(base).isDir())
    base = QString::fromStdString(programFolder());
  return base + QStringLiteral("/Lumdoc");
}

QString helpTopicPath(const QString &topic) { return helpFolder() + QLatin1Char('/') + topic; }

bool showHelp(const QString &pageWithAnchor, QWidget *owner) {
  const qsizetype hash = pageWithAnchor.indexOf(QLatin1Char('#'));
  const QString file = hash < 0 ? pageWithAnchor : pageWithAnchor.left(hash);
  const QString anchor = hash < 0 ? QString() : pageWithAnchor.mid(hash + 1);
  if (!QFileInfo(file).isFile())
    return false;
  if (g_window && g_window->parentWidget() != owner) {
    g_window->deleteLater();
    g_window = nullptr;
  }
  if (!g_window) {
    // Owned by the given window, or a window of its own deleted when closed.
    g_window = new QWidget(owner, Qt::Window);
    if (!owner)
      g_window->setAttribute(Qt::WA_DeleteOnClose);
    g_window->setWindowTitle(QStringLiteral("Help"));
    g_window->resize(640, 520);
    auto *layout = new QVBoxLayout(g_window);
    layout->setContentsMargins(0, 0, 0, 0);
    g_browser = new QTextBrowser(g_window);
    g_browser->setOpenExternalLinks(true);
    layout->addWidget(g_browser);
  }
  QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
  g_browser->setSource(url);
  if (!anchor.isEmpty())
    g_browser->scrollToAnchor(anchor);
  g_window->show();
  g_window->raise();
  g_window->activateWindow();
  return true;
}

} // namespace platform
