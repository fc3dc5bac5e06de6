// The spool file page extractor: cuts one spool file into one page file (an enhanced metafile) per printed page in
// the work folder, named by job number and page number ("2-0003.emf").
#pragma once

#include <QFile>
#include <array>
#include <cstdint>
#include <string>

namespace capture {

// A sequential reader over one file: reads in blocks of 2,048 bytes and seeks over skipped bytes without reading.
class SpoolReader {
public:
  static constexpr int kBufferSize = 2048;

  bool open(const std::string &path);
  void close();
  // Position 0, buffer and end flag cleared.
  void rewind();
  // Delivers up to count bytes into dest; fewer only when the file ends (the end flag is then set).
  // With dest == nullptr the bytes are skipped: what is buffered is consumed, the rest is one seek.
  uint64_t read(uint8_t *dest, uint64_t count);
  uint64_t skip(uint64_t count) { return read(nullptr, count); }
  bool atEnd() const { return end_; }
  // Logical position of the next byte the reader would deliver.
  uint64_t position() const { return filePos_ - (valid_ - pos_); }
  // Bytes of the file after position() (0 past the end).
  uint64_t bytesLeft() const;

private:
  QFile file_;
  std::array<uint8_t, kBufferSize> buf_{};
  int valid_ = 0;         // valid bytes in buf_
  int pos_ = 0;           // read position in buf_
  uint64_t filePos_ = 0;  // absolute file position just after the buffered bytes
  uint64_t fileSize_ = 0; // size when opened
  bool end_ = false;
};

// Record types of the spool file as the extractor treats them.
inline constexpr uint32_t kSpoolVersion = 0x00010000;
inline constexpr uint32_t kRecordEnd = 0;
inline constexpr uint32_t kRecordPage = 0x0C;
inline constexpr uint32_t kRecordUntrusted = 0xFFFF; // this type and above: only the 8 head bytes are consumed
// Accepted header record sizes, its first 8 bytes included.
inline constexpr uint32_t kMinHeaderSize = 8;
inline constexpr uint32_t kMaxHeaderSize = 65536;

// "0001.emf", "0012.emf", "0123.emf", "1234.emf", "12345.emf".
std::string PageFileName(int pageNumber);
// Work folder path of page pageNumber of job jobNumber: workFolder + "2-0003.emf".
std::string PageFilePath(int jobNumber, int pageNumber);
// Makes sure the work folder exists and is private to this user; false when it cannot be made or is refused
// (platform::workFolderProblem() tells why).
bool EnsureWorkFolder();

// Walks the EMF spool file at path and writes each page record's metafile as a page file of job jobNumber (a new
// file of mode 0600). Returns 1 when the walk reached its end, 0 when the file cannot be opened (or is not a regular
// file: a FIFO or device is never waited for), is not an EMF spool file (version, header size below 8 or above
// 65,536 bytes) or memory for a page is not available. When a page cannot be written because the disk is full, the
// walk stops with 0, the job's page files written so far are removed and writeError receives the error (ENOSPC), so
// that the caller can take the job again later; other page write failures pass the page over.
int ExtractSpoolPages(const std::string &path, int jobNumber, int *writeError = nullptr);

// The Windows 9x form: copies path to "tmp.spl" in the work folder, finds every "~EMF" + 8 characters in it and
// copies that temporary file of the temporary folder to the page file of job jobNumber. Names with a path
// separator or a control character in their 8 characters are passed over. A copy that fails for a full disk stops
// the work (page files of this job written so far are removed) with the error in writeError, as above.
void ExtractLegacySpoolPages(const std::string &path, int jobNumber, int *writeError = nullptr);

// Start-up clean-up: deletes every "*.spl" (any case) in the work folder. Returns the number of files deleted.
int DeleteSpoolCopies();

} // namespace capture
