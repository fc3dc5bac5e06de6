// The output folder and the names of the files an export writes.
#pragma once

#include "render/encoding.h"

#include <QString>
#include <QStringList>

namespace output {

// The folder of every save dialog: "SavePath" (a folder ending in "/"; one written with a trailing "\" is read as
// the same folder), else the user's pictures folder, else the home folder. Always ends in "/".
QString OutputFolder();
// Stores the folder of a confirmed path (the path without its file name, ending in "/") as "SavePath" and returns
// it.
QString StoreOutputFolder(const QString &confirmedPath);
// The file name of a path without its extension: "/a/Doc.jpg" gives "Doc", "/a/x.y.png" gives "x.y".
QString FileTitle(const QString &path);
// The file of one page: folder (ending in "/") + output name + page suffix + extension.
QString PageFilePath(const QString &folder, const QString &name, const std::string &pageSuffix, const char *extension);

// The file type filters of the save dialogs, in order (index + 1 is the format code).
QStringList ImageFilters(bool withTif);

} // namespace output
