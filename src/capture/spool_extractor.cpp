#include "capture/spool_extractor.h"

#include "emf/metafile.h"
#include "platform/paths.h"
#include "platform/private_files.h"

#include <QDir>
#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <unistd.h>
#include <vector>

namespace capture {

namespace {

uint32_t le32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QString qpath(const std::string &s) { return QString::fromStdString(s); }

void keepError(int *out, int error) {
  if (out && error && (!*out || platform::isDiskFull(error)))
    *out = error;
}

} // namespace

// ---- SpoolReader ----

bool SpoolReader::open(const std::string &path) {
  close();
  // Only a regular file is read: a FIFO or device of that name is refused without waiting for it.
  const int fd = platform::openRegularFile(path);
  if (fd < 0)
    return false;
  // Unbuffered: the reader's own 2,048-byte buffer is the only one.
  if (!file_.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return false;
  }
  fileSize_ = uint64_t(std::max<qint64>(file_.size(), 0));
  rewind();
  return true;
}

void SpoolReader::close() {
  if (file_.isOpen())
    file_.close();
  valid_ = pos_ = 0;
  filePos_ = 0;
  end_ = false;
}

void SpoolReader::rewind() {
  valid_ = pos_ = 0;
  filePos_ = 0;
  end_ = false;
  if (file_.isOpen())
    file_.seek(0);
}

uint64_t SpoolReader::bytesLeft() const {
  const uint64_t p = position();
  return p < fileSize_ ? fileSize_ - p : 0;
}

uint64_t SpoolReader::read(uint8_t *dest, uint64_t count) {
  uint64_t delivered = 0;
  while (count != 0) {
    if (pos_ < valid_) {
      const uint64_t n = std::min<uint64_t>(count, uint64_t(valid_ - pos_));
      if (dest)
        std::memcpy(dest + delivered, buf_.data() + pos_, n);
      pos_ += int(n);
      delivered += n;
      count -= n;
      continue;
    }
    if (!dest) {
      // A skip: one seek over the rest, no reading. Past the end the next refill finds nothing.
      const uint64_t target = filePos_ + count;
      filePos_ = target;
      if (target <= uint64_t(std::numeric_limits<qint64>::max()))
        file_.seek(qint64(target));
      return delivered + count;
    }
    if (end_ || !file_.isOpen())
      return delivered;
    valid_ = pos_ = 0;
    // Past the end of the file a seek leaves nothing to read.
    const qint64 got = filePos_ < fileSize_ ? file_.read(reinterpret_cast<char *>(buf_.data()), kBufferSize) : 0;
    if (got <= 0) {
      end_ = true;
      return delivered;
    }
    valid_ = int(got);
    filePos_ += uint64_t(got);
  }
  return delivered;
}

// ---- names and folders ----

std::string PageFileName(int pageNumber) {
  const char *format = pageNumber < 10     ? "000%d.emf"
                       : pageNumber < 100  ? "00%d.emf"
                       : pageNumber < 1000 ? "0%d.emf"
                                           : "%d.emf";
  char buf[32];
  std::snprintf(buf, sizeof buf, format, pageNumber);
  return buf;
}

std::string PageFilePath(int jobNumber, int pageNumber) {
  return platform::workFolder() + std::to_string(jobNumber) + "-" + PageFileName(pageNumber);
}

bool EnsureWorkFolder() { return platform::workFolderProblem().empty(); }

// ---- the NT family's EMF spool file ----

int ExtractSpoolPages(const std::string &path, int jobNumber, int *writeError) {
  SpoolReader reader;
  if (!reader.open(path))
    return 0;
  reader.rewind();

  uint8_t head[8];
  if (reader.read(head, 8) != 8 || le32(head) != kSpoolVersion)
    return 0;
  const uint32_t headerSize = le32(head + 4);
  if (headerSize < kMinHeaderSize || headerSize > kMaxHeaderSize)
    return 0;
  {
    // The header record is read whole into its buffer and not used further.
    std::vector<uint8_t> header(kMaxHeaderSize);
    reader.read(header.data(), headerSize - 8);
  }

  int pageCounter = 0;
  for (;;) {
    const uint64_t got = reader.read(head, 8);
    const uint32_t type = got == 8 ? le32(head) : 0;
    if (reader.atEnd() || got < 8 || type == kRecordEnd)
      return 1;
    const uint32_t size = le32(head + 4);

    if (type == kRecordPage) {
      // Never more than the file still holds: a size field beyond the end means a page cut short.
      const uint64_t available = std::min<uint64_t>(size, reader.bytesLeft());
      std::vector<uint8_t> payload;
      try {
        payload.resize(size_t(available));
      } catch (const std::bad_alloc &) {
        return 0;
      } catch (const std::length_error &) {
        return 0;
      }
      const uint64_t read = reader.read(payload.data(), available);
      payload.resize(size_t(read));
      const bool cutShort = read < size;

      // A page that is not a valid metafile (also one cut short whose bytes no longer make one) leaves a gap.
      emf::HENHMETAFILE mf = emf::SetEnhMetaFileBits(payload);
      ++pageCounter;
      if (mf && EnsureWorkFolder()) {
        // The page file holds the metafile's bytes, written as a new file only this user can read.
        int error = 0;
        if (!platform::writePrivateFile(PageFilePath(jobNumber, pageCounter), mf->bytes(), &error) &&
            platform::isDiskFull(error)) {
          // The job is taken again once there is space: the pages written so far go, so none is loaded twice.
          for (int n = 1; n < pageCounter; ++n)
            QFile::remove(qpath(PageFilePath(jobNumber, n)));
          keepError(writeError, error);
          return 0;
        }
      }
      emf::DeleteEnhMetaFile(mf);
      if (cutShort)
        return 1;
    } else if (type < kRecordUntrusted) {
      reader.skip(size);
    }
    // Type 0xFFFF and above: only the 8 head bytes are consumed.
  }
}

// ---- the Windows 9x spool file ----

namespace {

// The 8 characters after "~EMF" must make a plain file name: no separator, no control character.
bool usableSuffix(const char *s) {
  for (int i = 0; i < 8; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
      return false;
  }
  return true;
}

} // namespace

void ExtractLegacySpoolPages(const std::string &path, int jobNumber, int *writeError) {
  if (!EnsureWorkFolder())
    return;
  const std::string copyPath = platform::workFolder() + "tmp.spl";
  int error = 0;
  if (!platform::copyToPrivateFile(path, copyPath, &error)) {
    keepError(writeError, error);
    return;
  }

  QFile in(qpath(copyPath));
  if (!in.open(QIODevice::ReadOnly))
    return;
  char c = 0;
  if (!in.getChar(&c)) // the first byte is never part of a name
    return;

  const std::string temp = platform::tempFolder();
  int pageCounter = 0;
  while (in.getChar(&c)) {
    if (c != '~')
      continue;
    char three[3];
    if (in.read(three, 3) != 3)
      break;
    if (std::memcmp(three, "EMF", 3) != 0)
      continue; // the three characters are consumed with the '~'
    char suffix[8];
    if (in.read(suffix, 8) != 8)
      break;
    if (!usableSuffix(suffix))
      continue;
    const std::string source = temp + "~EMF" + std::string(suffix, 8);
    ++pageCounter;
    if (!EnsureWorkFolder())
      continue;
    if (!platform::copyToPrivateFile(source, PageFilePath(jobNumber, pageCounter), &error) &&
        platform::isDiskFull(error)) {
      for (int n = 1; n < pageCounter; ++n)
        QFile::remove(qpath(PageFilePath(jobNumber, n)));
      keepError(writeError, error);
      return;
    }
  }
}

// ---- start-up clean-up ----

int DeleteSpoolCopies() {
  QDir dir(qpath(platform::workFolder()));
  if (!dir.exists())
    return 0;
  int deleted = 0;
  const QStringList names = dir.entryList({QStringLiteral("*.spl")}, QDir::Files | QDir::Hidden | QDir::System);
  for (const QString &n : names)
    if (dir.remove(n))
      ++deleted;
  return deleted;
}

} // namespace capture
