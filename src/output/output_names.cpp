#include "output/output_names.h"

#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace output {

namespace {

QString withSlash(QString folder) {
  if (!folder.endsWith(QLatin1Char('/')))
    folder += QLatin1Char('/');
  return folder;
}

} // namespace

QString OutputFolder() {
  QString stored = QString::fromStdString(RegGetUserString("SavePath").value_or(std::string()));
  // A folder stored with the separator of the other platform ends in "\"; the folder itself is the same.
  while (stored.endsWith(QLatin1Char('\\')))
    stored.chop(1);
  if (!stored.isEmpty() && QFileInfo(stored).isDir())
    return withSlash(stored);
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
    return withSlash(pictures);
  return withSlash(QDir::homePath());
}

QString StoreOutputFolder(const QString &confirmedPath) {
  const QString folder = withSlash(QFileInfo(confirmedPath).absolutePath());
  RegSetUserString("SavePath", folder.toStdString());
  return folder;
}

QString FileTitle(const QString &path) { return QFileInfo(path).completeBaseName(); }

QString PageFilePath(const QString &folder, const QString &name, const std::string &pageSuffix, const char *extension) {
  return withSlash(folder) + name + QString::fromStdString(pageSuffix) + QLatin1String(extension);
}

QStringList ImageFilters(bool withTif) {
  QStringList filters{QStringLiteral("JPG (JPEG file interchange format) (*.jpg)"),
                      QStringLiteral("GIF (Graphics Interchange Format) (*.gif)"),
                      QStringLiteral("PNG (Portable Network Graphics) (*.png)"),
                      QStringLiteral("BMP (Windows Bitmap) (*.bmp)")};
  if (withTif)
    filters << QStringLiteral("TIF (TIFF Tagged Image File Format) (*.tif)");
  return filters;
}

} // namespace output
