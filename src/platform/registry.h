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

// A handle to one key. Opening checks that the key exists (or creates it); every operation re-reads the
// hive file, so a handle never holds stale data and nothing stays open between calls.
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
  bool remove(std::string_view name);
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

// The file that holds a hive: $FOLVEX_REGISTRY_DIR/{user,machine}.reg when that variable is set;
// otherwise $XDG_CONFIG_HOME/Folvex2/user.reg and machine.reg beside the running program.
std::string hiveFilePath(Hive hive);

} // namespace platform
