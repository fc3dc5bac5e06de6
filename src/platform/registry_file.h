// The text form of one hive: the .reg format, readable and editable by a person.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Tarvik\Folvex2]
//   "lvSharpen"=dword:00000001
//   "SavePath"="/home/me/Pictures"
//   "Raw"=hex:01,02,03
//   "Expandable"=hex(2):25,00
//
// A REG_SZ value whose bytes are printable UTF-8 text ending in one zero is written as "text" (with \\ and \"
// escapes); a REG_DWORD of exactly 4 bytes as dword:; REG_BINARY as hex:; everything else (other types, strings
// without their zero, strings holding control characters) as hex(N): with the exact bytes, so every value
// survives a round trip unchanged.
#pragma once

#include "platform/registry.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform::regfile {

struct Key {
  std::string path; // below the hive root, components separated by '\', case as first written
  std::vector<RegValue> values;
};

// One hive in memory. Keys appear in the order they were created; a key's parents exist even when only the
// key itself has a section.
struct HiveData {
  std::vector<Key> keys;

  // The key with this path (compared without regard to case), or nullptr.
  Key *find(std::string_view path);
  const Key *find(std::string_view path) const;
  // True when the key has a section or is a parent of one.
  bool exists(std::string_view path) const;
  // The key, created with its missing parents; nullptr when the path is not a valid key name.
  Key *create(std::string_view path);
  // The stored spelling of an existing key path (parents spelt as stored too).
  std::string storedPath(std::string_view path) const;
};

// Root names as they appear in section headers.
const char *rootName(Hive hive);

// Parses the text of a hive file, in time linear in its length (keys and values are found through an index).
// Returns false (and leaves `out` unspecified) when the text is not a well-formed
// hive of `hive`: a missing header line, a line that is neither a section, a value nor a comment, a bad escape or
// hex list, a value before the first section, or a section of another hive.
bool parse(std::string_view text, Hive hive, HiveData &out, std::string *error = nullptr);

// The text of a hive file.
std::string format(const HiveData &data, Hive hive);

// Splits "A\B\C" into its components; empty when the path is empty or holds an empty component, a line break or a
// zero byte. Leading and trailing separators are ignored.
std::vector<std::string> splitPath(std::string_view path);
// Compares names the way the registry does: without regard to case (two names are the same when their foldName is).
bool sameName(std::string_view a, std::string_view b);
// A name with its case folded (ASCII lower case; Unicode case folding for other text).
std::string foldName(std::string_view name);
// Value names must not hold line breaks or zero bytes; everything else is allowed.
bool validValueName(std::string_view name);

} // namespace platform::regfile
