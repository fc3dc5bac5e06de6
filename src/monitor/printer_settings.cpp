#include "monitor/printer_settings.h"

#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cctype>
#include <cstring>

namespace monitor {
namespace {

constexpr const char *kSettingsKey = "Software\\Tarvik\\Folvex2";
constexpr const char *kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr qint64 kMaxFileBytes = 8 * 1024 * 1024; // far above 1000 entries of 4 full lines

// One text line, newline characters inside a value would break the line structure.
std::string oneLine(const std::string &s) {
  std::string out = s;
  for (char &c : out)
    if (c == '\n' || c == '\r')
      c = ' ';
  return out;
}

} // namespace

std::vector<SavedPrinterEntry> entriesFrom(const std::vector<PrinterState> &local,
                                           const std::vector<PrinterState> &connections, WriteMode mode) {
  std::vector<SavedPrinterEntry> out;
  out.reserve(local.size() + connections.size());
  for (const PrinterState &p : local) {
    bool paused = p.paused;
    if (mode == WriteMode::AllNotPaused)
      paused = false;
    else if (mode == WriteMode::AllPaused)
      paused = true;
    out.push_back({p.name, paused, p.port, p.datatype});
  }
  for (const PrinterState &p : connections)
    out.push_back({p.name, p.paused, p.port, p.datatype});
  return out;
}

std::string formatSettings(const std::vector<SavedPrinterEntry> &entries) {
  std::string out = std::to_string(entries.size()) + "\n";
  for (const SavedPrinterEntry &e : entries) {
    out += oneLine(e.name) + "\n";
    out += e.paused ? "TRUE\n" : "FALSE\n";
    out += oneLine(e.port) + "\n";
    out += oneLine(e.datatype) + "\n";
  }
  return out;
}

bool parseSettings(const std::string &bytes, std::vector<SavedPrinterEntry> &entries) {
  size_t pos = 0;
  const size_t n = bytes.size();
  auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (pos < n && isSpace(bytes[pos]))
    ++pos;
  bool negative = false;
  if (pos < n && (bytes[pos] == '-' || bytes[pos] == '+'))
    negative = bytes[pos++] == '-';
  const size_t digitsStart = pos;
  long long count = 0;
  while (pos < n && std::isdigit(static_cast<unsigned char>(bytes[pos]))) {
    if (count < 1'000'000'000)
      count = count * 10 + (bytes[pos] - '0');
    ++pos;
  }
  if (pos == digitsStart)
    return false;
  if (negative)
    count = 0;
  // The count is read as "%ld\n": the white space after it is skipped as well.
  while (pos < n && isSpace(bytes[pos]))
    ++pos;

  auto readLine = [&](std::string &line, size_t limit) {
    if (pos >= n)
      return false;
    const size_t end = bytes.find('\n', pos);
    const size_t stop = end == std::string::npos ? n : end;
    line.assign(bytes, pos, std::min(stop - pos, limit));
    pos = end == std::string::npos ? n : end + 1;
    return true;
  };

  std::vector<SavedPrinterEntry> out;
  const size_t wanted = static_cast<size_t>(std::min<long long>(count, kMaxSavedEntries));
  for (size_t k = 0; k < wanted; ++k) {
    SavedPrinterEntry e;
    std::string paused;
    if (!readLine(e.name, kMaxSavedName) || !readLine(paused, 8) || !readLine(e.port, kMaxSavedLine) ||
        !readLine(e.datatype, kMaxSavedLine))
      break; // the file ends before the count: keep the entries read so far
    e.paused = paused == "TRUE";
    out.push_back(std::move(e));
  }
  entries = std::move(out);
  return true;
}

bool settingsFileReadable(const std::string &path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly);
}

bool readSettingsFile(const std::string &path, std::vector<SavedPrinterEntry> &table) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly))
    return false;
  const QByteArray bytes = f.read(kMaxFileBytes);
  return parseSettings(bytes.toStdString(), table);
}

bool writeSettingsFile(const std::string &path, const std::vector<SavedPrinterEntry> &entries) {
  QSaveFile f(QString::fromStdString(path));
  f.setDirectWriteFallback(true);
  if (!f.open(QIODevice::WriteOnly))
    return false;
  const std::string bytes = formatSettings(entries);
  if (f.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
    f.cancelWriting();
    return false;
  }
  return f.commit();
}

std::string settingsFolder() {
  std::string localAppData;
  if (auto key = platform::RegKey::open(platform::Hive::CurrentUser, kShellFoldersKey, platform::RegAccess::Read)) {
    if (auto value = key->query("Local AppData");
        value && (value->type == platform::REG_SZ || value->type == platform::REG_EXPAND_SZ)) {
      const size_t len = std::min<size_t>(value->data.size(), 260);
      localAppData.assign(reinterpret_cast<const char *>(value->data.data()), len);
      if (const size_t nul = localAppData.find('\0'); nul != std::string::npos)
        localAppData.resize(nul);
    }
  }
  if (localAppData.size() < 4)
    return QDir::homePath().toStdString();
  return localAppData + "/Folvex2";
}

std::string settingsFilePath(const char *fileName) {
  const std::string folder = settingsFolder();
  const std::string path = folder + "/" + fileName;
  if (!settingsFileReadable(path))
    QDir().mkpath(QString::fromStdString(folder)); // a failure shows when the file is written
  return path;
}

bool preparedMarkExists() { return QFileInfo::exists(QString::fromStdString(settingsFilePath(kPreparedMarkFile))); }

bool writePreparedMark() {
  QSaveFile f(QString::fromStdString(settingsFilePath(kPreparedMarkFile)));
  f.setDirectWriteFallback(true);
  return f.open(QIODevice::WriteOnly) && f.write("prepared\n") == 9 && f.commit();
}

void removePreparedMark() { QFile::remove(QString::fromStdString(settingsFilePath(kPreparedMarkFile))); }

int readKodEstPrinters() {
  auto key = platform::RegKey::open(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::Read);
  if (!key)
    return -1;
  auto value = key->query("lvKodEstPrinters");
  if (!value || value->type != platform::REG_DWORD || value->data.size() != 4)
    return -1;
  uint32_t v = 0;
  std::memcpy(&v, value->data.data(), 4);
  return static_cast<int>(v);
}

bool writeKodEstPrinters(int code) {
  auto key = platform::RegKey::create(platform::Hive::CurrentUser, kSettingsKey, platform::RegAccess::Write);
  return key && key->setDword("lvKodEstPrinters", static_cast<uint32_t>(code));
}

bool storeKodEstPrinters(int code) {
  if (readKodEstPrinters() == code)
    return false;
  return writeKodEstPrinters(code);
}

} // namespace monitor
