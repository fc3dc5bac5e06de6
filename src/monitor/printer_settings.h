// The two printer settings files ("lvFXPrn.ini": how each printer is normally set; "lvFXPrnNew.ini": how it is
// set for capture) and the printer acceptability code in the settings key.
//
// File format, the same for both files, lines ended by a single line feed:
//   N                       number of entries, decimal
//   then for each entry:    name / "TRUE" or "FALSE" (paused) / port / datatype
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace monitor {

constexpr size_t kMaxSavedEntries = 1000;
constexpr size_t kMaxSavedName = 258;
constexpr size_t kMaxSavedLine = 259; // longest port or datatype kept

struct SavedPrinterEntry {
  std::string name;
  bool paused = false;
  std::string port;
  std::string datatype;
  bool operator==(const SavedPrinterEntry &) const = default;
};

// The printers as they are now, for writing a file from the printer tables.
struct PrinterState {
  std::string name;
  bool paused = false;
  std::string port;
  std::string datatype;
};

enum class WriteMode { Current, AllNotPaused, AllPaused };

// Entries for the local printers (paused line by the write mode) followed by the connections (always as they are).
std::vector<SavedPrinterEntry> entriesFrom(const std::vector<PrinterState> &local,
                                           const std::vector<PrinterState> &connections, WriteMode mode);
// The file's bytes for these entries.
std::string formatSettings(const std::vector<SavedPrinterEntry> &entries);
// Parses a file's bytes into entries; false when the count cannot be read (the entries are left alone then).
// At most kMaxSavedEntries entries are kept; the file may end before the count is reached.
bool parseSettings(const std::string &bytes, std::vector<SavedPrinterEntry> &entries);

// Reads a file into the table; false (table unchanged) when it cannot be opened or its count is unreadable.
bool readSettingsFile(const std::string &path, std::vector<SavedPrinterEntry> &table);
// Writes the file whole (the old content stays until the new one is complete); false when it cannot be written.
bool writeSettingsFile(const std::string &path, const std::vector<SavedPrinterEntry> &entries);
// The file can be opened for reading.
bool settingsFileReadable(const std::string &path);

// The folder of the settings files: "Local AppData" + "/Folvex2"; when that value is missing or shorter than
// 4 characters, the user's home folder stands in for the root of the system drive.
std::string settingsFolder();
// settingsFolder() + "/" + fileName; the folder is created when the file cannot be read yet.
std::string settingsFilePath(const char *fileName);
inline constexpr const char *kDefaultSettingsFile = "lvFXPrn.ini";
inline constexpr const char *kPreparedSettingsFile = "lvFXPrnNew.ini";

// The mark that the queues are prepared for capture: written when "set" has prepared them, removed when the
// default settings have been restored. Found at a start while no Folvex runs (or by the next "set"), it tells that
// a Folvex did not end normally and its queues still wait to be restored.
inline constexpr const char *kPreparedMarkFile = "lvFXPrn.prepared";
bool preparedMarkExists();
bool writePreparedMark();
void removePreparedMark();

// lvKodEstPrinters of "Software\Tarvik\Folvex2": -1 when the key or value is missing or not a REG_DWORD.
int readKodEstPrinters();
bool writeKodEstPrinters(int code);
// Writes the code only when it differs from the stored one; true when it was written.
bool storeKodEstPrinters(int code);

} // namespace monitor
