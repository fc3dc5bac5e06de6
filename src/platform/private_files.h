// Folders and files that only this user can reach, and reads that never block: the rules for everything the
// programs keep in their temporary folder and for every file they pick up from a folder others may write to.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace platform {

// True when `folder` is a real folder (not a symbolic link) owned by this user that no one else may enter (no group
// or other permission bits). Otherwise false, with the reason in `why` ("it is a symbolic link", ...).
bool isPrivateFolder(const std::string &folder, std::string *why = nullptr);
// Makes `folder` with mode 0700 when it is missing (its missing parents with the usual mode), then checks it as
// isPrivateFolder does. A folder whose parent others may change (writable by them and not sticky) is refused too.
bool makePrivateFolder(const std::string &folder, std::string *why = nullptr);

// Writes `bytes` as a new file of mode 0600. An entry of that name (a file, or a link, which is not followed) is
// removed first; the file is created exclusively and never through a link. On failure nothing is left behind and
// `error` holds the errno of the failing call.
bool writePrivateFile(const std::string &path, std::span<const uint8_t> bytes, int *error = nullptr);
// Copies `source` to `target` as writePrivateFile writes. Only a regular file is copied: a FIFO, socket, device or
// folder is refused at once (error EINVAL) without waiting for a writer.
bool copyToPrivateFile(const std::string &source, const std::string &target, int *error = nullptr);
// Opens `path` for reading when it is a regular file (a link to one is followed); never blocks on a FIFO or a device.
// Returns the descriptor (close-on-exec, blocking again) or -1 with errno set (EINVAL for a file of another kind).
int openRegularFile(const std::string &path);
// Takes the group and other permissions off a file this program wrote (images written by the image library).
void restrictToOwner(const std::string &path);

// True for the errors of a full disk or an exhausted quota (ENOSPC, EDQUOT).
bool isDiskFull(int error);
// The text for a failed write: "the disk is full (ENOSPC)" for a full disk, else the system's text of the error.
std::string writeErrorText(int error);
// True when the file system of `folder` has at least `bytes` free for this user.
bool hasFreeSpace(const std::string &folder, uint64_t bytes);

} // namespace platform
