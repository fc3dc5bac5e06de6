#include "platform/registry.h"

#include "platform/paths.h"
#include "platform/registry_file.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using regfile::HiveData;

std::string envValue(const char *name) {
  const char *v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path, else the home folder + fallback.
std::string xdgFolder(const char *variable, const char *fallback) {
  const std::string v = envValue(variable);
  if (!v.empty() && v.front() == '/')
    return v;
  return QDir::homePath().toStdString() + "/" + fallback;
}

std::string privateFolder() { return envValue("FOLVEX_REGISTRY_DIR"); }

std::string userHivePath() {
  const std::string dir = privateFolder();
  if (!dir.empty())
    return dir + "/user.reg";
  return xdgFolder("XDG_CONFIG_HOME", ".config") + "/Folvex2/user.reg";
}

std::string machineHiveBesideProgram() { return programFolder() + "/machine.reg"; }

// Where writes go.
std::string writePath(Hive hive) {
  if (hive == Hive::CurrentUser)
    return userHivePath();
  const std::string dir = privateFolder();
  return dir.empty() ? machineHiveBesideProgram() : dir + "/machine.reg";
}

std::string dirOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));
}

// What a hive holds before anything was written to it.
HiveData initialHive(Hive hive) {
  HiveData data;
  if (hive == Hive::CurrentUser) {
    const std::string local = xdgFolder("XDG_DATA_HOME", ".local/share");
    RegValue v{"Local AppData", REG_SZ, std::vector<uint8_t>(local.begin(), local.end())};
    v.data.push_back(0);
    data.create("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")->values.push_back(v);
    data.create("Control Panel\\Desktop");
  }
  return data;
}

class Fd {
public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

private:
  int fd_;
};

enum class ReadResult { Ok, Missing, Damaged, Unreadable };

// The errno of the last failed write on this thread; 0 after a write that succeeded.
thread_local int t_lastWriteError = 0;

bool failWrite(int error) {
  t_lastWriteError = error ? error : EIO;
  return false;
}

// What tells one version of a hive file from another without reading it: a new version is a new file (writes
// rename a new file over the old one), and one edited in place has a new size or modification time.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  struct timespec modified {};
  bool operator==(const FileIdentity &o) const {
    return device == o.device && inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec;
  }
};

FileIdentity identityOf(const struct stat &st) { return FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim}; }

ReadResult readHiveFile(const std::string &path, Hive hive, HiveData &out, FileIdentity *identity = nullptr) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0)
    return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Unreadable;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0)
    return ReadResult::Unreadable;
  if (identity)
    *identity = identityOf(st);
  if (!S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) > kMaxHiveBytes)
    return ReadResult::Damaged;
  std::string text;
  text.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  // The file is replaced by rename, never rewritten in place, so its size does not change under us; still read
  // only what was announced and stop at an early end.
  while (got < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return ReadResult::Unreadable;
    }
    if (n == 0)
      break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  return regfile::parse(text, hive, out) ? ReadResult::Ok : ReadResult::Damaged;
}

// The user hive holds the user's own paths and choices: it, its lock and a folder made for it are the user's
// alone. The machine hive is read by every user of an installed copy.
mode_t hiveFileMode(const std::string &path) { return path == userHivePath() ? 0600 : 0644; }

// An exclusive lock on "<hive>.lock", held while the object lives.
class HiveLock {
public:
  explicit HiveLock(const std::string &hivePath) {
    const std::string dir = dirOf(hivePath);
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) {
      QDir().mkpath(QString::fromStdString(dirOf(dir)));
      ::mkdir(dir.c_str(), hiveFileMode(hivePath) == 0600 ? 0700 : 0755);
    }
    Fd fd(::open((hivePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, hiveFileMode(hivePath)));
    if (fd.get() < 0) {
      t_lastWriteError = errno;
      return;
    }
    int rc;
    do
      rc = ::flock(fd.get(), LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc == 0)
      fd_ = fd.release();
  }
  HiveLock(const HiveLock &) = delete;
  HiveLock &operator=(const HiveLock &) = delete;
  ~HiveLock() {
    if (fd_ >= 0)
      ::close(fd_); // closing releases the lock
  }
  bool held() const { return fd_ >= 0; }

private:
  int fd_ = -1;
};

// The names in the hive's folder that begin with the hive's own name, "user.reg" + rest.
std::vector<std::string> namesBeside(const std::string &path) {
  std::vector<std::string> rests;
  const std::string dir = dirOf(path);
  const std::string base = path.substr(path.rfind('/') + 1);
  std::unique_ptr<DIR, int (*)(DIR *)> d(::opendir(dir.c_str()), ::closedir);
  if (!d)
    return rests;
  while (const dirent *e = ::readdir(d.get())) {
    const std::string_view name(e->d_name);
    if (name.size() > base.size() && name.substr(0, base.size()) == base)
      rests.emplace_back(name.substr(base.size()));
  }
  return rests;
}

// The number of a damaged copy's name: ".bad" is 1, ".<n>.bad" is n; 0 for any other name.
uint64_t damagedNumber(const std::string &rest) {
  if (rest == ".bad")
    return 1;
  if (rest.size() < 6 || rest.front() != '.' || rest.substr(rest.size() - 4) != ".bad")
    return 0;
  const std::string digits = rest.substr(1, rest.size() - 5);
  if (digits.empty() || digits.size() > 18 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return 0;
  return std::stoull(digits);
}

// Damaged copies kept beside a hive: the newest ones; the oldest go when another is added.
constexpr size_t kKeptDamagedCopies = 5;

// Renames a damaged hive out of the way under the next free number and drops the oldest damaged copies beyond the
// newest few. Call with the lock held.
bool setAside(const std::string &path) {
  std::vector<uint64_t> numbers;
  for (const std::string &rest : namesBeside(path))
    if (const uint64_t n = damagedNumber(rest))
      numbers.push_back(n);
  std::sort(numbers.begin(), numbers.end());
  const uint64_t next = numbers.empty() ? 1 : numbers.back() + 1;
  const auto nameOf = [&](uint64_t n) { return n == 1 ? path + ".bad" : path + "." + std::to_string(n) + ".bad"; };
  const std::string target = nameOf(next);
  if (::rename(path.c_str(), target.c_str()) != 0) {
    qWarning("Settings file %s cannot be read and cannot be moved aside: %s", path.c_str(), std::strerror(errno));
    return false;
  }
  qWarning("Settings file %s cannot be read; kept as %s, starting with a new one", path.c_str(), target.c_str());
  numbers.push_back(next);
  for (size_t i = 0; i + kKeptDamagedCopies < numbers.size(); ++i)
    ::unlink(nameOf(numbers[i]).c_str());
  return true;
}

// Removes the temporary files ("user.reg.XXXXXX") of writes that were interrupted before their rename. Call with the
// lock held: no write of ours is under way then.
void removeInterruptedWrites(const std::string &path) {
  for (const std::string &rest : namesBeside(path)) {
    if (rest.size() != 7 || rest.front() != '.' ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
      continue;
    const std::string name = path + rest;
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
      ::unlink(name.c_str());
  }
}

bool writeAll(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file with `text` so that it is on disk when this returns: temporary file, fsync, rename, fsync of
// the folder. A hive reached through a symbolic link is written where the link points. `written` receives the
// identity of the new file.
bool writeDurably(std::string path, const std::string &text, mode_t mode, FileIdentity &written) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    const QString target = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    if (!target.isEmpty())
      path = target.toStdString();
  }
  const std::string dir = dirOf(path);
  std::string tmpl = path + ".XXXXXX";
  Fd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
  if (fd.get() < 0)
    return failWrite(errno);
  const bool ok = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), text) && ::fsync(fd.get()) == 0 &&
                  ::fstat(fd.get(), &st) == 0 && ::close(fd.release()) == 0 &&
                  ::rename(tmpl.c_str(), path.c_str()) == 0;
  if (!ok) {
    const int error = errno;
    ::unlink(tmpl.c_str());
    return failWrite(error);
  }
  written = identityOf(st);
  Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dirFd.get() >= 0)
    ::fsync(dirFd.get());
  return true;
}

// The last version of each hive file read or written by this process, so that a hive is parsed once and read again
// only when its file changed. A file read within moments of its last change is read again next time: an edit in
// place within the file system's time stamp granularity would otherwise go unseen. A version this process wrote
// itself is known as it is.
struct CachedHive {
  std::string path;
  FileIdentity identity;
  struct timespec readAt {};
  bool ours = false;
  std::shared_ptr<const HiveData> data;
};
std::mutex g_cacheMutex;
CachedHive g_cache[2];

// True when the file's time stamp was taken long enough before it was read that a later change gets another one:
// a tenth of a second past the kernel's clock ticks, two seconds where stamps hold whole seconds only.
bool settled(const CachedHive &c) {
  const int64_t nanos = int64_t(c.readAt.tv_sec - c.identity.modified.tv_sec) * 1000000000 +
                        (c.readAt.tv_nsec - c.identity.modified.tv_nsec);
  return nanos >= (c.identity.modified.tv_nsec == 0 ? 2000000000 : 100000000);
}

CachedHive &cacheOf(Hive hive) { return g_cache[hive == Hive::CurrentUser ? 0 : 1]; }

struct timespec now() {
  struct timespec t {};
  ::clock_gettime(CLOCK_REALTIME, &t);
  return t;
}

std::shared_ptr<const HiveData> cached(Hive hive, const std::string &path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return nullptr;
  std::lock_guard lock(g_cacheMutex);
  const CachedHive &c = cacheOf(hive);
  if (!c.data || c.path != path || !(c.identity == identityOf(st)) || !(c.ours || settled(c)))
    return nullptr;
  return c.data;
}

std::shared_ptr<const HiveData> remember(Hive hive, const std::string &path, const FileIdentity &identity,
                                         HiveData data, bool ours = false) {
  auto shared = std::make_shared<const HiveData>(std::move(data));
  std::lock_guard lock(g_cacheMutex);
  cacheOf(hive) = CachedHive{path, identity, now(), ours, shared};
  return shared;
}

// The hive as it stands now, for reading. A damaged file is set aside (under the lock) and the hive starts anew.
std::shared_ptr<const HiveData> loadHive(Hive hive) {
  const std::string path = hiveFilePath(hive);
  if (auto data = cached(hive, path))
    return data;
  HiveData data;
  FileIdentity identity;
  switch (readHiveFile(path, hive, data, &identity)) {
  case ReadResult::Ok:
    return remember(hive, path, identity, std::move(data));
  case ReadResult::Missing:
    return std::make_shared<const HiveData>(initialHive(hive));
  case ReadResult::Damaged:
  case ReadResult::Unreadable: {
    HiveLock lock(path);
    if (lock.held()) {
      // Another program may have replaced the file since we looked.
      data = HiveData{};
      const ReadResult again = readHiveFile(path, hive, data, &identity);
      if (again == ReadResult::Ok)
        return remember(hive, path, identity, std::move(data));
      if (again != ReadResult::Missing)
        setAside(path);
    }
    return std::make_shared<const HiveData>(initialHive(hive));
  }
  }
  return std::make_shared<const HiveData>(initialHive(hive));
}

// Read-modify-write under the exclusive lock. `change` returns false to leave the hive untouched; the result is
// true only when the change was made and is on disk.
bool modifyHive(Hive hive, const std::function<bool(HiveData &)> &change) {
  t_lastWriteError = 0;
  const std::string path = writePath(hive);
  HiveLock lock(path);
  if (!lock.held())
    return failWrite(t_lastWriteError);
  removeInterruptedWrites(path);
  HiveData data;
  // Under the lock no program of ours changes the file: the version known here is the one on disk, unless the
  // file changed since (then it is read again).
  const auto known = cached(hive, path);
  switch (known ? ReadResult::Ok : readHiveFile(path, hive, data)) {
  case ReadResult::Ok:
    if (known)
      data = *known;
    break;
  case ReadResult::Missing:
    data = HiveData{};
    if (hive == Hive::LocalMachine && path != machineHiveBesideProgram()) {
      // A private machine hive starts as a copy of the one beside the program.
      if (readHiveFile(machineHiveBesideProgram(), hive, data) != ReadResult::Ok)
        data = HiveData{};
    } else {
      data = initialHive(hive);
    }
    break;
  case ReadResult::Damaged:
  case ReadResult::Unreadable:
    // Never write over a file we could not read: it must be kept aside first.
    if (!setAside(path))
      return failWrite(errno);
    data = initialHive(hive);
    break;
  }
  if (!change(data))
    return false;
  const std::string text = regfile::format(data, hive);
  // A file this large would be taken for a damaged one when read back: refuse the change instead.
  if (text.size() > kMaxHiveBytes)
    return failWrite(EFBIG);
  FileIdentity written;
  if (!writeDurably(path, text, hiveFileMode(path), written))
    return false;
  if (path == hiveFilePath(hive))
    remember(hive, path, written, std::move(data), true);
  return true;
}

// True when the program may write the hive: its folder (or the nearest existing parent) is writable.
bool hiveWritable(Hive hive) {
  std::string dir = dirOf(writePath(hive));
  struct stat st {};
  while (::stat(dir.c_str(), &st) != 0 && dir != "/" && dir != ".")
    dir = dirOf(dir);
  if (::access(dir.c_str(), W_OK) == 0)
    return true;
  t_lastWriteError = errno;
  return false;
}

bool canRead(RegAccess a) { return a != RegAccess::Write; }
bool canWrite(RegAccess a) { return a == RegAccess::Write || a == RegAccess::All; }

std::string normalPath(std::string_view path) {
  const auto parts = regfile::splitPath(path);
  std::string out;
  for (const auto &p : parts) {
    if (!out.empty())
      out += '\\';
    out += p;
  }
  return out;
}

} // namespace

std::string hiveFilePath(Hive hive) {
  if (hive == Hive::CurrentUser)
    return userHivePath();
  const std::string dir = privateFolder();
  if (!dir.empty()) {
    const std::string own = dir + "/machine.reg";
    struct stat st {};
    if (::stat(own.c_str(), &st) == 0)
      return own;
  }
  return machineHiveBesideProgram();
}

std::optional<RegKey> RegKey::open(Hive hive, std::string_view path, RegAccess access) {
  const std::string normal = normalPath(path);
  if (normal.empty())
    return std::nullopt;
  const auto data = loadHive(hive);
  if (!data->exists(normal))
    return std::nullopt;
  if (canWrite(access) && !hiveWritable(hive))
    return std::nullopt;
  return RegKey(hive, data->storedPath(normal), access);
}

std::optional<RegKey> RegKey::create(Hive hive, std::string_view path, RegAccess access) {
  const std::string normal = normalPath(path);
  if (normal.empty())
    return std::nullopt;
  if (canWrite(access) && !hiveWritable(hive))
    return std::nullopt;
  auto data = loadHive(hive);
  if (!data->find(normal)) {
    // When this makes nothing, someone else may have made it meanwhile; otherwise the write failed.
    modifyHive(hive, [&](HiveData &d) { return d.find(normal) ? false : d.create(normal) != nullptr; });
    data = loadHive(hive);
    if (!data->find(normal))
      return std::nullopt;
  }
  return RegKey(hive, data->storedPath(normal), access);
}

std::optional<RegValue> RegKey::query(std::string_view name) const {
  if (!canRead(access_))
    return std::nullopt;
  const auto data = loadHive(hive_);
  const regfile::Key *key = data->find(path_);
  if (!key)
    return std::nullopt;
  for (const auto &v : key->values)
    if (regfile::sameName(v.name, name))
      return v;
  return std::nullopt;
}

bool RegKey::set(std::string_view name, uint32_t type, std::span<const uint8_t> bytes) {
  if (!canWrite(access_) || !regfile::validValueName(name))
    return false;
  return modifyHive(hive_, [&](HiveData &data) {
    regfile::Key *key = data.find(path_);
    if (!key) {
      // A key that exists only as the parent of another has no section yet; a deleted key stays deleted.
      if (!data.exists(path_))
        return false;
      key = data.create(path_);
      if (!key)
        return false;
    }
    for (auto &v : key->values)
      if (regfile::sameName(v.name, name)) {
        v.type = type;
        v.data.assign(bytes.begin(), bytes.end());
        return true;
      }
    key->values.push_back(RegValue{std::string(name), type, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    return true;
  });
}

bool RegKey::setDword(std::string_view name, uint32_t value) {
  const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return set(name, REG_DWORD, bytes);
}

bool RegKey::setString(std::string_view name, std::string_view text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return set(name, REG_SZ, bytes);
}

bool RegKey::remove(std::string_view name) {
  if (!canWrite(access_))
    return false;
  return modifyHive(hive_, [&](HiveData &data) {
    regfile::Key *key = data.find(path_);
    if (!key)
      return false;
    return std::erase_if(key->values, [&](const RegValue &v) { return regfile::sameName(v.name, name); }) > 0;
  });
}

std::optional<RegValue> RegKey::enumerate(size_t index) const {
  if (!canRead(access_))
    return std::nullopt;
  const auto data = loadHive(hive_);
  const regfile::Key *key = data->find(path_);
  if (!key || index >= key->values.size())
    return std::nullopt;
  return key->values[index];
}

int lastWriteError() { return t_lastWriteError; }

std::optional<std::string> stringFromValue(const RegValue &value) {
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ)
    return std::nullopt;
  if (value.data.empty() || value.data.size() > kMaxStringBytes || value.data.back() != 0)
    return std::nullopt;
  const char *text = reinterpret_cast<const char *>(value.data.data());
  return std::string(text, ::strnlen(text, value.data.size()));
}

std::optional<int32_t> dwordFromValue(const RegValue &value) {
  if (value.type != REG_DWORD || value.data.size() != 4)
    return std::nullopt;
  const uint32_t n = uint32_t(value.data[0]) | uint32_t(value.data[1]) << 8 | uint32_t(value.data[2]) << 16 |
                     uint32_t(value.data[3]) << 24;
  return static_cast<int32_t>(n);
}

std::optional<std::string> readStringValue(Hive hive, std::string_view keyPath, std::string_view name) {
  const auto key = RegKey::open(hive, keyPath, RegAccess::Read);
  if (!key)
    return std::nullopt;
  const auto value = key->query(name);
  return value ? stringFromValue(*value) : std::nullopt;
}

} // namespace platform
