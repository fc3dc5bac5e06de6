// Making EMF spool files: wraps enhanced metafiles, one per page, into the spool file form the extractor reads,
// and writes a shadow file beside it so the spool watcher notices the job.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace capture {

// Spool record types written here (besides the page record, type 12).
inline constexpr uint32_t kRecordPageOffset = 0x0D; // 8-byte distance back to the page record just written

// The bytes of an EMF spool file: the header record (version 0x00010000, its size, the offsets of the document
// name and the output name, both UTF-16 with a terminating zero), then per page a page record holding the
// metafile and a page offset record, then an end record of type 0. Records are padded to 4 bytes.
std::vector<uint8_t> BuildSpoolFile(const std::vector<std::vector<uint8_t>> &pages, const std::string &documentName);

// The shadow file that goes beside a spool file: a few text lines naming the document, the spool file and the
// page count (the watcher only needs it to exist with at least 2 bytes).
std::string BuildShadowFile(const std::string &documentName, const std::string &spoolFileName, int pageCount);

// Writes spoolPath (the spool file) and, when shadow is set, the shadow file: spoolPath with its last three
// characters replaced by "SHD". The spool file is complete on disk before the shadow file appears.
// False with *error set when a file cannot be written.
bool WriteSpoolJob(const std::string &spoolPath, const std::vector<std::vector<uint8_t>> &pages,
                   const std::string &documentName, bool shadow, std::string *error = nullptr);

// The next free job name in folder: "00001" .. "99999", the first whose .SPL and .SHD both do not exist
// (empty when none is free).
std::string NextFreeJobName(const std::string &folder);

} // namespace capture
