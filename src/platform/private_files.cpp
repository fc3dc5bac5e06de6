#include "platform/private_files.h"

#include <QDir>
#include <QString>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

std::string parentOf(std::string path) {
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

bool refuse(std::string *why, std::string text) {
  if (why)
    *why = std::move(text);
  return false;
}

void keep(int *error, int value) {
  if (error)
    *error = value;
}

bool writeAll(int fd, const uint8_t *data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}

// Creates `path` afresh for writing: whatever had the name goes first (a link is removed, not followed).
int createPrivate(const std::string &path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return -1;
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
}

// Finishes a file made by createPrivate: closes it, and removes it when anything went wrong.
bool finish(int fd, const std::string &path, bool ok, int *error) {
  int saved = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(path.c_str());
    keep(error, saved);
    return false;
  }
  keep(error, 0);
  return true;
}

} // namespace

bool isPrivateFolder(const std::string &folder, std::string *why) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0)
    return refuse(why, std::string("it cannot be reached (") + std::strerror(errno) + ")");
  if (S_ISLNK(st.st_mode))
    return refuse(why, "it is a symbolic link");
  if (!S_ISDIR(st.st_mode))
    return refuse(why, "it is not a folder");
  if (st.st_uid != ::geteuid())
    return refuse(why, "it belongs to another user (uid " + std::to_string(st.st_uid) + ")");
  if (st.st_mode & 077) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
    return refuse(why, std::string("other users may enter it (mode ") + mode + ")");
  }
  return true;
}

bool makePrivateFolder(const std::string &folder, std::string *why) {
  const std::string parent = parentOf(folder);
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0)
    QDir().mkpath(QString::fromStdString(parent));
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return refuse(why, std::string("it cannot be made (") + std::strerror(errno) + ")");
  // In a folder that others may write to and that is not sticky, someone could swap ours for theirs later.
  if (::stat(parent.c_str(), &st) == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) && !(st.st_mode & S_ISVTX))
    return refuse(why, "other users may replace it (its parent folder is open to them and not sticky)");
  return isPrivateFolder(folder, why);
}

bool writePrivateFile(const std::string &path, std::span<const uint8_t> bytes, int *error) {
  const int fd = createPrivate(path);
  if (fd < 0) {
    keep(error, errno);
    return false;
  }
  return finish(fd, path, writeAll(fd, bytes.data(), bytes.size()), error);
}

int openRegularFile(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool copyToPrivateFile(const std::string &source, const std::string &target, int *error) {
  const int in = openRegularFile(source);
  if (in < 0) {
    keep(error, errno);
    return false;
  }
  const int out = createPrivate(target);
  if (out < 0) {
    keep(error, errno);
    ::close(in);
    return false;
  }
  bool ok = true;
  uint8_t buf[65536];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    if (!writeAll(out, buf, size_t(n))) {
      ok = false;
      break;
    }
  }
  const int saved = errno;
  ::close(in);
  errno = saved;
  return finish(out, target, ok, error);
}

void restrictToOwner(const std::string &path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077))
    ::chmod(path.c_str(), st.st_mode & 0700);
}

bool isDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

std::string writeErrorText(int error) {
  if (error == ENOSPC)
    return "the disk is full (ENOSPC)";
  if (error == EDQUOT)
    return "the disk quota is used up (EDQUOT)";
  return std::strerror(error);
}

bool hasFreeSpace(const std::string &folder, uint64_t bytes) {
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) != 0)
    return true; // unknown: let the write itself tell
  const uint64_t blocks = ::geteuid() == 0 ? fs.f_bfree : fs.f_bavail;
  return blocks * uint64_t(fs.f_frsize) >= bytes;
}

} // namespace platform
