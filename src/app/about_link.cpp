#include "app/about_link.h"

#include "platform/paths.h"

#include <QLibrary>
#include <QWidget>

namespace app {

QString aboutModulePath() {
  const std::string folder = platform::installFolder();
  if (folder.empty())
    return {};
  return QString::fromStdString(folder) + QStringLiteral("/fxAbout.so");
}

bool showAbout(QWidget *owner) {
  const QString path = aboutModulePath();
  if (path.isEmpty())
    return false;
  QLibrary module(path);
  if (!module.load())
    return false;
  using AboutFunction = int (*)(void *owner);
  const auto about = reinterpret_cast<AboutFunction>(module.resolve("AboutTarvikSystem"));
  if (about)
    about(owner);
  module.unload();
  return about != nullptr;
}

} // namespace app
