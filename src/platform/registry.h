// Registry stand-in: two hives (current user, local machine), each one .reg-format text file.
// Values keep their exact type and bytes. Every write is durable when the call returns and runs under an
// exclusive file lock around read-modify-write, so two programs writing at once lose nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Value types, numbered as the .reg format and the Windows API number them.
enum : uint32_t {
  REG_NONE = 0,
  REG_SZ = 1,
  REG_EXPAND_SZ = 2,
  REG_BINARY = 3,
  REG_DWORD = 4,
  REG_MULTI_SZ = 7,
  REG_QWORD = 11,
};

enum class Hive { CurrentUser, LocalMachine };
enum class RegAccess { Read, Write, All, Query };

struct RegValue {
  std::string name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

// A handle to one key. Opening checks that the key exists (or creates it); every operation looks at the hive file
// again (reading it anew when it changed), so a handle never holds stale data and nothing stays open between calls.
// Access as on Windows: Read and Query handles may query and enumerate, Write handles may set and remove, All both.
// A Write or All handle is refused when the hive's folder cannot be written. A key path may be given in any case
// and with or without leading/trailing '\'; path() gives it as first written.
class RegKey {
public:
  // Opens an existing key; nothing when it does not exist or the hive cannot be read.
  static std::optional<RegKey> open(Hive hive, std::string_view path, RegAccess access);
  // Opens the key, creating it (and its parents) when missing.
  static std::optional<RegKey> create(Hive hive, std::string_view path, RegAccess access);

  std::optional<RegValue> query(std::string_view name) const;
  bool set(std::string_view name, uint32_t type, std::span<const uint8_t> data);
  bool setDword(std::string_view name, uint32_t value);
  bool setString(std::string_view name, std::string_view text); // REG_SZ with terminating zero
  bool remove(std::string_view name);                           // false when the value does not exist
  // Values in index order (the order they were first written); nothing past the last.
  std::optional<RegValue> enumerate(size_t index) const;

  Hive hive() const { return hive_; }
  const std::string &path() const { return path_; }

private:
  RegKey(Hive h, std::string p, RegAccess a) : hive_(h), path_(std::move(p)), access_(a) {}
  Hive hive_;
  std::string path_;
  RegAccess access_;
};

// The file a hive is read from.
//  - user hive: $FOLVEX_REGISTRY_DIR/user.reg when that variable is set, else $XDG_CONFIG_HOME/Folvex2/user.reg
//    (default ~/.config/Folvex2/user.reg).
//  - machine hive: $FOLVEX_REGISTRY_DIR/machine.reg when that variable is set and the file exists, else machine.reg
//    beside the running program. Writes to the machine hive go to $FOLVEX_REGISTRY_DIR/machine.reg when the
//    variable is set (starting from the hive beside the program when that file does not exist yet), so a private
//    folder never changes the hive of the build tree or of an installed copy.
// A missing user hive reads as a new one: "Local AppData" = $XDG_DATA_HOME (default ~/.local/share) under the
// Explorer shell folders key and an empty "Control Panel\Desktop" key; the first write stores them.
// A damaged hive file is renamed to "<file>.bad" or "<file>.<n>.bad" with the next free number, and the hive starts
// anew; only the newest few damaged copies are kept. The user hive and its lock are the user's alone (mode 0600).
// A hive is parsed once and read again only when its file changed; every write reads it afresh under the lock, and
// first removes "<file>.XXXXXX" temporary files that interrupted writes left behind.
std::string hiveFilePath(Hive hive);

// The errno of the last registry write of this thread that failed (ENOSPC on a full disk, EACCES for a folder that
// cannot be written, ...); 0 when the last write succeeded.
int lastWriteError();

// Reads a string value the way the programs' string readers do: the value must be REG_SZ or REG_EXPAND_SZ, at most
// 260 bytes long, and end in a zero byte; the result is the text before the first zero. Nothing otherwise, also when
// the key or value is missing.
std::optional<std::string> readStringValue(Hive hive, std::string_view keyPath, std::string_view name);
// The same rule applied to a value already read.
std::optional<std::string> stringFromValue(const RegValue &value);
// A REG_DWORD of exactly four bytes as a signed number; nothing for anything else.
std::optional<int32_t> dwordFromValue(const RegValue &value);

// Most bytes a string reader accepts, terminating zero included.
inline constexpr size_t kMaxStringBytes = 260;
// A hive file larger than this is treated as damaged: no settings store comes near it.
inline constexpr size_t kMaxHiveBytes = 16u << 20;

} // namespace platform
