// Starting programs and opening documents, detached from the calling program.
#pragma once

#include <QString>

namespace platform {

// Starts a program of ours (e.g. installFolder + "/qvt") with one command word as its only argument, detached.
// An empty word starts it with no argument. false = the start failed (the "result below 32" of a failed start).
bool startProgram(const QString &programPath, const QString &word);
// Opens a document, a folder or a link with the desktop's default program (xdg-open), detached.
bool openDocument(const QString &pathOrUrl);

} // namespace platform
