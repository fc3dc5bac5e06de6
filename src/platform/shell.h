// Starting programs and opening documents, detached from the calling program.
#pragma once

#include <QString>
#include <functional>

namespace platform {

// Starts a program of ours (e.g. installFolder + "/qvt") with one command word as its only argument, detached.
// An empty word starts it with no argument. false = the start failed (the "result below 32" of a failed start).
bool startProgram(const QString &programPath, const QString &word);
// Opens a document, a folder or a link with the desktop's default program (xdg-open), detached.
bool openDocument(const QString &pathOrUrl);
// Puts a function in place of the desktop's opener (tests: nothing is started); an empty one restores the desktop.
void setOpenDocumentHook(std::function<bool(const QString &pathOrUrl)> hook);

} // namespace platform
