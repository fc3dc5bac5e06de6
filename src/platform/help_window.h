// The help window: HTML help pages from the "Lumdoc" folder of the installation, shown in a browser window of ours.
#pragma once

#include <QString>

class QWidget;

namespace platform {

// The folder of the help pages: "InstallPath" + "/Lumdoc", or the running program's folder + "/Lumdoc"
// when "InstallPath" is missing.
QString helpFolder();
// The page of a topic ("quenby.htm", "createimage.htm#noprint") in the help folder, anchor kept.
QString helpTopicPath(const QString &topic);
// Shows a page ("folder/page.htm" or "folder/page.htm#anchor") in the help window, opening it when needed and
// bringing it forward. With an owner the window belongs to that window (so a modal dialog does not block it).
// false when the page does not exist.
bool showHelp(const QString &pageWithAnchor, QWidget *owner = nullptr);

} // namespace platform
