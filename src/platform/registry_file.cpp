#include "platform/registry_file.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace platform::regfile {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr size_t kHexLineWidth = 78; // a hex list wraps before this column

bool isAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
  const auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && ws(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && ws(s.back()))
    s.remove_suffix(1);
  return s;
}

std::string joinPath(const std::vector<std::string> &parts, size_t count) {
  std::string out;
  for (size_t i = 0; i < count && i < parts.size(); ++i) {
    if (i)
      out += '\\';
    out += parts[i];
  }
  return out;
}

bool validUtf8(std::string_view s) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = decoder.decode(QByteArrayView(s.data(), static_cast<qsizetype>(s.size())));
  return !decoder.hasError();
}

// True when the value can be written as "text": REG_SZ, one terminating zero, printable UTF-8 before it.
bool writableAsText(const RegValue &v) {
  if (v.type != REG_SZ || v.data.empty() || v.data.back() != 0)
    return false;
  const std::string_view text(reinterpret_cast<const char *>(v.data.data()), v.data.size() - 1);
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7f)
      return false;
  return validUtf8(text);
}

void appendQuoted(std::string &out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  out += '"';
}

void appendHex(std::string &out, const std::vector<uint8_t> &bytes, size_t column) {
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    const bool last = i + 1 == bytes.size();
    if (column + 3 > kHexLineWidth) {
      out += "\\\n  ";
      column = 2;
    }
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 0xf];
    column += 2;
    if (!last) {
      out += ',';
      ++column;
    }
  }
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// Parses up to `maxDigits` hex digits making up the whole of `s`.
bool parseHexNumber(std::string_view s, size_t maxDigits, uint32_t &out) {
  if (s.empty() || s.size() > maxDigits)
    return false;
  out = 0;
  for (char c : s) {
    const int d = hexDigit(c);
    if (d < 0)
      return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

bool parseHexList(std::string_view s, std::vector<uint8_t> &out) {
  out.clear();
  s = trim(s);
  if (s.empty())
    return true;
  size_t pos = 0;
  while (true) {
    const size_t comma = s.find(',', pos);
    const std::string_view token = trim(s.substr(pos, comma == std::string_view::npos ? s.size() - pos : comma - pos));
    uint32_t byte = 0;
    if (!parseHexNumber(token, 2, byte))
      return false;
    out.push_back(static_cast<uint8_t>(byte));
    if (comma == std::string_view::npos)
      return true;
    pos = comma + 1;
  }
}

// Reads a quoted string starting at s[pos] == '"'; on success pos is just past the closing quote.
// Only \\ and \" are escapes; any other backslash stands for itself, which is what a hand-written path expects.
bool parseQuoted(std::string_view s, size_t &pos, std::string &out) {
  out.clear();
  if (pos >= s.size() || s[pos] != '"')
    return false;
  ++pos;
  while (pos < s.size()) {
    const char c = s[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\' && pos + 1 < s.size() && (s[pos + 1] == '\\' || s[pos + 1] == '"')) {
      out += s[pos + 1];
      pos += 2;
      continue;
    }
    out += c;
    ++pos;
  }
  return false;
}

bool fail(std::string *error, size_t lineNo, const char *what) {
  if (error)
    *error = "line " + std::to_string(lineNo) + ": " + what;
  return false;
}

// Splits a section name "HKEY_CURRENT_USER\A\B" into its hive and key path.
bool parseSectionName(std::string_view name, Hive &hive, std::string &path) {
  const size_t sep = name.find('\\');
  const std::string_view root = name.substr(0, sep);
  if (sameName(root, "HKEY_CURRENT_USER") || sameName(root, "HKCU"))
    hive = Hive::CurrentUser;
  else if (sameName(root, "HKEY_LOCAL_MACHINE") || sameName(root, "HKLM"))
    hive = Hive::LocalMachine;
  else
    return false;
  path = sep == std::string_view::npos ? std::string() : std::string(name.substr(sep + 1));
  return true;
}

// What the parser knows about the keys read so far, so that every section and value is found in constant or
// logarithmic time: the whole parse stays linear in the size of the text (apart from a logarithm).
class ParseIndex {
public:
  explicit ParseIndex(HiveData &out) : out_(out) {}

  // The key with this (normalised) path, made when missing; a section spelt differently from one read earlier
  // belongs to the same key.
  size_t section(const std::string &path) {
    const std::string folded = foldName(path);
    if (const auto it = keys_.find(folded); it != keys_.end())
      return it->second;
    out_.keys.push_back(Key{path, {}});
    slots_.emplace_back();
    keys_.emplace(folded, out_.keys.size() - 1);
    return out_.keys.size() - 1;
  }
  // Removes the key and every key below it ("" removes all).
  void removeTree(const std::string &path) {
    const std::string folded = foldName(path);
    if (folded.empty()) {
      for (const auto &entry : keys_)
        slots_[entry.second].removed = true;
      keys_.clear();
      return;
    }
    if (const auto it = keys_.find(folded); it != keys_.end()) {
      slots_[it->second].removed = true;
      keys_.erase(it);
    }
    const std::string below = folded + "\\";
    for (auto it = keys_.lower_bound(below); it != keys_.end() && it->first.compare(0, below.size(), below) == 0;) {
      slots_[it->second].removed = true;
      it = keys_.erase(it);
    }
  }
  void setValue(size_t key, RegValue value) {
    Slot &slot = slots_[key];
    auto &values = out_.keys[key].values;
    const std::string folded = foldName(value.name);
    if (const auto it = slot.byName.find(folded); it != slot.byName.end()) {
      values[it->second].type = value.type;
      values[it->second].data = std::move(value.data);
      return;
    }
    values.push_back(std::move(value));
    slot.alive.push_back(true);
    slot.byName.emplace(folded, values.size() - 1);
  }
  void removeValue(size_t key, const std::string &name) {
    Slot &slot = slots_[key];
    if (const auto it = slot.byName.find(foldName(name)); it != slot.byName.end()) {
      slot.alive[it->second] = false;
      slot.byName.erase(it);
    }
  }
  // Drops the removed keys and values, keeping the order of the rest.
  void finish() {
    std::vector<Key> kept;
    kept.reserve(out_.keys.size());
    for (size_t k = 0; k < out_.keys.size(); ++k) {
      if (slots_[k].removed)
        continue;
      Key &key = out_.keys[k];
      const std::vector<bool> &alive = slots_[k].alive;
      if (std::find(alive.begin(), alive.end(), false) != alive.end()) {
        std::vector<RegValue> values;
        for (size_t v = 0; v < key.values.size(); ++v)
          if (alive[v])
            values.push_back(std::move(key.values[v]));
        key.values = std::move(values);
      }
      kept.push_back(std::move(key));
    }
    out_.keys = std::move(kept);
  }

private:
  struct Slot {
    bool removed = false;
    std::vector<bool> alive;
    std::unordered_map<std::string, size_t> byName;
  };
  HiveData &out_;
  std::map<std::string, size_t> keys_; // folded path -> index in out_.keys, ordered so a tree is one range
  std::vector<Slot> slots_;
};

// The text as UTF-8: a UTF-16 file (as an editor on another system may save it) is converted, a UTF-8 mark dropped.
std::string decodeText(std::string_view text) {
  if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xff && static_cast<unsigned char>(text[1]) == 0xfe) {
    QStringDecoder decoder(QStringDecoder::Utf16LE);
    const QString s = decoder.decode(QByteArrayView(text.data() + 2, static_cast<qsizetype>(text.size() - 2)));
    return s.toStdString();
  }
  if (text.size() >= 3 && text.substr(0, 3) == "\xef\xbb\xbf")
    text.remove_prefix(3);
  return std::string(text);
}

} // namespace

std::string foldName(std::string_view name) {
  if (isAscii(name)) {
    std::string out(name);
    for (char &c : out)
      c = lowerAscii(c);
    return out;
  }
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toStdString();
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() == b.size() &&
      std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); }))
    return true;
  if (isAscii(a) && isAscii(b))
    return false;
  return foldName(a) == foldName(b);
}

bool validValueName(std::string_view name) { return name.find_first_of(std::string_view("\n\r\0", 3)) == name.npos; }

std::vector<std::string> splitPath(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty() && path.front() == '\\')
    path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\')
    path.remove_suffix(1);
  if (path.empty() || !validValueName(path))
    return parts;
  size_t pos = 0;
  while (true) {
    const size_t sep = path.find('\\', pos);
    const std::string_view part = path.substr(pos, sep == path.npos ? path.npos : sep - pos);
    if (part.empty())
      return {};
    parts.emplace_back(part);
    if (sep == path.npos)
      return parts;
    pos = sep + 1;
  }
}

Key *HiveData::find(std::string_view path) {
  for (auto &k : keys)
    if (sameName(k.path, path))
      return &k;
  return nullptr;
}

const Key *HiveData::find(std::string_view path) const { return const_cast<HiveData *>(this)->find(path); }

bool HiveData::exists(std::string_view path) const {
  if (path.empty())
    return true;
  const std::string prefix = std::string(path) + "\\";
  return std::any_of(keys.begin(), keys.end(),
                     [&](const Key &k) { return sameName(k.path, path) || startsWithNoCase(k.path, prefix); });
}

std::string HiveData::storedPath(std::string_view path) const {
  std::vector<std::string> parts = splitPath(path);
  // Each component takes the spelling of the first key that holds it.
  for (size_t depth = 0; depth < parts.size(); ++depth) {
    const std::string prefix = joinPath(parts, depth + 1);
    for (const auto &k : keys) {
      const std::vector<std::string> have = splitPath(k.path);
      if (have.size() > depth && sameName(joinPath(have, depth + 1), prefix)) {
        parts[depth] = have[depth];
        break;
      }
    }
  }
  return joinPath(parts, parts.size());
}

Key *HiveData::create(std::string_view path) {
  const std::vector<std::string> parts = splitPath(path);
  if (parts.empty())
    return nullptr;
  const std::string stored = storedPath(joinPath(parts, parts.size()));
  const std::vector<std::string> spelled = splitPath(stored);
  for (size_t depth = 1; depth <= spelled.size(); ++depth) {
    const std::string prefix = joinPath(spelled, depth);
    if (!find(prefix))
      keys.push_back(Key{prefix, {}});
  }
  return find(stored);
}

const char *rootName(Hive hive) { return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE"; }

bool parse(std::string_view rawText, Hive hive, HiveData &out, std::string *error) {
  out.keys.clear();
  const std::string text = decodeText(rawText);
  std::string_view rest(text);
  size_t lineNo = 0;
  bool headerSeen = false;
  ParseIndex index(out);
  constexpr size_t kNoKey = size_t(-1);
  size_t current = kNoKey;
  bool inDeletedSection = false;

  while (!rest.empty()) {
    // One logical line: a value whose line ends in a backslash goes on in the next line.
    std::string logical;
    const size_t firstLine = lineNo + 1;
    while (true) {
      const size_t nl = rest.find('\n');
      std::string_view line = trim(rest.substr(0, nl));
      rest = nl == rest.npos ? std::string_view() : rest.substr(nl + 1);
      ++lineNo;
      const bool continues = !line.empty() && line.back() == '\\' &&
                             (line.front() == '"' || line.front() == '@' || (!logical.empty() && line.front() != '['));
      if (continues)
        line.remove_suffix(1);
      logical += line;
      if (!continues)
        break;
      if (rest.empty())
        return fail(error, lineNo, "the file ends inside a value");
    }
    const std::string_view line = trim(logical);
    if (line.empty() || line.front() == ';')
      continue;
    if (!headerSeen) {
      if (line != kHeader && line != kOldHeader)
        return fail(error, firstLine, "not a registry file (header line missing)");
      headerSeen = true;
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']')
        return fail(error, firstLine, "section name without closing bracket");
      std::string_view name = line.substr(1, line.size() - 2);
      const bool deletion = !name.empty() && name.front() == '-';
      if (deletion)
        name.remove_prefix(1);
      Hive sectionHive;
      std::string path;
      if (!parseSectionName(name, sectionHive, path))
        return fail(error, firstLine, "unknown root key");
      if (sectionHive != hive)
        return fail(error, firstLine, "section of another hive");
      const std::vector<std::string> parts = splitPath(path);
      if (parts.empty() && !trim(path).empty())
        return fail(error, firstLine, "bad key name");
      const std::string normal = joinPath(parts, parts.size());
      if (deletion) {
        index.removeTree(normal);
        current = kNoKey;
        inDeletedSection = true;
        continue;
      }
      inDeletedSection = false;
      current = index.section(normal);
      continue;
    }
    if (line.front() != '"' && line.front() != '@')
      return fail(error, firstLine, "neither a section nor a value");

    RegValue value;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!parseQuoted(line, pos, value.name)) {
      return fail(error, firstLine, "unterminated value name");
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
      ++pos;
    if (pos >= line.size() || line[pos] != '=')
      return fail(error, firstLine, "'=' missing after the value name");
    const std::string_view data = trim(line.substr(pos + 1));

    bool remove = false;
    if (data == "-") {
      remove = true;
    } else if (!data.empty() && data.front() == '"') {
      size_t p = 0;
      std::string textValue;
      if (!parseQuoted(data, p, textValue) || p != data.size())
        return fail(error, firstLine, "bad string value");
      value.type = REG_SZ;
      value.data.assign(textValue.begin(), textValue.end());
      value.data.push_back(0);
    } else if (startsWithNoCase(data, "dword:")) {
      uint32_t number = 0;
      if (!parseHexNumber(trim(data.substr(6)), 8, number))
        return fail(error, firstLine, "bad dword value");
      value.type = REG_DWORD;
      value.data = {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number >> 16),
                    static_cast<uint8_t>(number >> 24)};
    } else if (startsWithNoCase(data, "hex:")) {
      value.type = REG_BINARY;
      if (!parseHexList(data.substr(4), value.data))
        return fail(error, firstLine, "bad hex list");
    } else if (startsWithNoCase(data, "hex(")) {
      const size_t close = data.find(')');
      if (close == data.npos || close + 1 >= data.size() || data[close + 1] != ':' ||
          !parseHexNumber(data.substr(4, close - 4), 8, value.type))
        return fail(error, firstLine, "bad value type");
      if (!parseHexList(data.substr(close + 2), value.data))
        return fail(error, firstLine, "bad hex list");
    } else {
      return fail(error, firstLine, "unknown value form");
    }

    if (current == kNoKey) {
      if (inDeletedSection)
        continue;
      return fail(error, firstLine, "value outside a section");
    }
    if (remove)
      index.removeValue(current, value.name);
    else
      index.setValue(current, std::move(value));
  }
  if (!headerSeen)
    return fail(error, lineNo, "not a registry file (empty)");
  index.finish();
  return true;
}

std::string format(const HiveData &data, Hive hive) {
  std::string out;
  out += kHeader;
  out += "\n\n";
  for (const auto &key : data.keys) {
    out += '[';
    out += rootName(hive);
    if (!key.path.empty()) {
      out += '\\';
      out += key.path;
    }
    out += "]\n";
    for (const auto &v : key.values) {
      const size_t lineStart = out.size();
      if (v.name.empty())
        out += '@';
      else
        appendQuoted(out, v.name);
      out += '=';
      if (writableAsText(v)) {
        appendQuoted(out, std::string_view(reinterpret_cast<const char *>(v.data.data()), v.data.size() - 1));
      } else if (v.type == REG_DWORD && v.data.size() == 4) {
        char buf[16];
        const uint32_t n =
            uint32_t(v.data[0]) | uint32_t(v.data[1]) << 8 | uint32_t(v.data[2]) << 16 | uint32_t(v.data[3]) << 24;
        std::snprintf(buf, sizeof buf, "dword:%08x", n);
        out += buf;
      } else {
        if (v.type == REG_BINARY) {
          out += "hex:";
        } else {
          char buf[24];
          std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
          out += buf;
        }
        appendHex(out, v.data, out.size() - lineStart);
      }
      out += '\n';
    }
    out += '\n';
  }
  return out;
}

} // namespace platform::regfile
