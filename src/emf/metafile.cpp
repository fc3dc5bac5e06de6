// The metafile object: validation of the record stream, the parsed header, loading, saving and copying.
#include "emf/metafile.h"

#include "emf/emf_reader.h"
#include "emf/player.h"

#include <QFile>
#include <QImage>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

namespace emf {

namespace {

constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmfSignature = 0x464D4520; // " EMF"
constexpr uint32_t kMinHeaderSize = 88;        // up to and including szlMillimeters
// Files larger than this are refused rather than held in memory.
constexpr size_t kMaxMetafileBytes = size_t(1) << 30;

void setReason(std::string *reason, std::string text) {
  if (reason)
    *reason = std::move(text);
}

// Reads the header record; the caller has checked that the first record is a header of at least 88 bytes.
ENHMETAHEADER parseHeader(std::span<const uint8_t> data, uint32_t recordSize) {
  Reader r(data.first(recordSize));
  ENHMETAHEADER h;
  h.iType = r.u32();
  h.nSize = r.u32();
  auto rect = [&r](RECTL &rc) {
    rc.left = r.i32();
    rc.top = r.i32();
    rc.right = r.i32();
    rc.bottom = r.i32();
  };
  rect(h.rclBounds);
  rect(h.rclFrame);
  h.dSignature = r.u32();
  h.nVersion = r.u32();
  h.nBytes = r.u32();
  h.nRecords = r.u32();
  h.nHandles = r.u16();
  h.sReserved = r.u16();
  h.nDescription = r.u32();
  h.offDescription = r.u32();
  h.nPalEntries = r.u32();
  h.szlDevice.cx = r.i32();
  h.szlDevice.cy = r.i32();
  h.szlMillimeters.cx = r.i32();
  h.szlMillimeters.cy = r.i32();
  // The optional fields are present only when the record is long enough and the description does not start
  // inside them (some producers put the description right after the 88-byte base).
  auto extensionPresent = [&](uint32_t end) {
    return recordSize >= end && (h.nDescription == 0 || h.offDescription == 0 || h.offDescription >= end);
  };
  if (extensionPresent(100)) {
    h.cbPixelFormat = r.u32();
    h.offPixelFormat = r.u32();
    h.bOpenGL = r.u32();
  }
  if (extensionPresent(108)) {
    h.szlMicrometers.cx = r.i32();
    h.szlMicrometers.cy = r.i32();
  }
  return h;
}

} // namespace

HENHMETAFILE EnhMetaFile::fromBytes(std::vector<uint8_t> bytes, std::string *reason) {
  const size_t size = bytes.size();
  if (size > kMaxMetafileBytes) {
    setReason(reason, "metafile is larger than " + std::to_string(kMaxMetafileBytes) + " bytes");
    return {};
  }
  if (size < 8) {
    setReason(reason, "data too short for a record (" + std::to_string(size) + " bytes)");
    return {};
  }
  const uint8_t *p = bytes.data();
  if (readU32(p) != kEmrHeader) {
    setReason(reason, "first record is not EMR_HEADER (type " + std::to_string(readU32(p)) + ")");
    return {};
  }
  const uint32_t headerSize = readU32(p + 4);
  if (headerSize < kMinHeaderSize) {
    setReason(reason, "header record too small (" + std::to_string(headerSize) + " bytes, at least 88 needed)");
    return {};
  }
  if (headerSize > size) {
    setReason(reason, "header record size " + std::to_string(headerSize) + " exceeds the data (" +
                          std::to_string(size) + " bytes)");
    return {};
  }
  if (readU32(p + 40) != kEmfSignature) {
    setReason(reason, "header signature is not \" EMF\"");
    return {};
  }
  // Walk every record: sizes must be at least 8, multiples of 4 and inside the data. The walk ends at EMR_EOF
  // or exactly at the end of the data.
  size_t offset = 0;
  size_t index = 0;
  bool sawEof = false;
  while (offset < size) {
    if (size - offset < 8) {
      setReason(reason, "record " + std::to_string(index) + " at offset " + std::to_string(offset) + " is cut off (" +
                            std::to_string(size - offset) + " bytes left)");
      return {};
    }
    const uint32_t type = readU32(p + offset);
    const uint32_t recSize = readU32(p + offset + 4);
    if (recSize < 8) {
      setReason(reason, "record " + std::to_string(index) + " at offset " + std::to_string(offset) + " has size " +
                            std::to_string(recSize) + ", less than 8");
      return {};
    }
    if (recSize % 4 != 0) {
      setReason(reason, "record " + std::to_string(index) + " at offset " + std::to_string(offset) + " has size " +
                            std::to_string(recSize) + ", not a multiple of 4");
      return {};
    }
    if (recSize > size - offset) {
      setReason(reason, "record " + std::to_string(index) + " at offset " + std::to_string(offset) + " (size " +
                            std::to_string(recSize) + ") runs past the end of the data");
      return {};
    }
    offset += recSize;
    ++index;
    if (type == kEmrEof) {
      sawEof = true;
      break;
    }
  }
  (void)sawEof; // ending exactly at the end of the data is as good as an EMR_EOF record
  ENHMETAHEADER h = parseHeader(bytes, headerSize);
  return std::make_shared<const EnhMetaFile>(std::move(bytes), h);
}

const std::vector<RecordRef> &EnhMetaFile::records() const {
  std::call_once(recordsOnce_, [this] {
    const size_t size = bytes_.size();
    size_t offset = 0;
    while (offset + 8 <= size) {
      const uint32_t type = readU32(bytes_.data() + offset);
      const uint32_t recSize = readU32(bytes_.data() + offset + 4);
      if (recSize < 8 || recSize % 4 != 0 || recSize > size - offset)
        break; // cannot happen for validated bytes; stops a walk over bytes built by hand
      records_.push_back({type, uint32_t(offset), recSize});
      offset += recSize;
      if (type == kEmrEof)
        break;
    }
  });
  return records_;
}

std::u16string EnhMetaFile::description() const {
  const uint64_t off = header_.offDescription;
  const uint64_t n = header_.nDescription;
  if (off == 0 || n == 0)
    return {};
  // The description must lie inside the header record.
  if (off + n * 2 > header_.nSize || off + n * 2 > bytes_.size())
    return {};
  std::u16string s;
  s.reserve(n);
  for (uint64_t i = 0; i < n; ++i)
    s.push_back(char16_t(bytes_[off + 2 * i] | (bytes_[off + 2 * i + 1] << 8)));
  return s;
}

HENHMETAFILE SetEnhMetaFileBits(std::span<const uint8_t> data, std::string *reason) {
  return EnhMetaFile::fromBytes(std::vector<uint8_t>(data.begin(), data.end()), reason);
}

HENHMETAFILE GetEnhMetaFileA(const std::string &path, std::string *reason) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    setReason(reason, "cannot open " + path + ": " + f.errorString().toStdString());
    return {};
  }
  const qint64 size = f.size();
  if (size < 0 || uint64_t(size) > kMaxMetafileBytes) {
    setReason(reason, path + " is too large for a metafile");
    return {};
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  qint64 got = size > 0 ? f.read(reinterpret_cast<char *>(bytes.data()), size) : 0;
  if (got != size) {
    setReason(reason, "cannot read " + path + ": " + f.errorString().toStdString());
    return {};
  }
  return EnhMetaFile::fromBytes(std::move(bytes), reason);
}

HENHMETAFILE CopyEnhMetaFileA(const HENHMETAFILE &mf, const std::string &path) {
  if (!mf)
    return {};
  if (!path.empty()) {
    QSaveFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::WriteOnly))
      return {};
    const auto &b = mf->bytes();
    if (f.write(reinterpret_cast<const char *>(b.data()), qint64(b.size())) != qint64(b.size()) || !f.commit())
      return {};
  }
  // The object is immutable: a copy in memory is the same bytes under a new handle.
  return std::make_shared<const EnhMetaFile>(mf->bytes(), mf->header());
}

bool DeleteEnhMetaFile(HENHMETAFILE &mf) {
  if (!mf)
    return false;
  mf.reset();
  return true;
}

uint32_t GetEnhMetaFileHeader(const HENHMETAFILE &mf, uint32_t size, ENHMETAHEADER *out) {
  if (!mf)
    return 0;
  const ENHMETAHEADER &h = mf->header();
  // The size of the header as stored, limited to the fields this structure holds.
  const uint32_t full = std::min<uint32_t>(h.nSize, sizeof(ENHMETAHEADER));
  if (!out)
    return full;
  const uint32_t n = std::min(size, full);
  ENHMETAHEADER copy{};
  std::memcpy(&copy, &h, sizeof copy);
  std::memcpy(static_cast<void *>(out), &copy, n);
  return n;
}

bool PlayEnhMetaFile(QImage &target, const HENHMETAFILE &mf, const QRect &dest, PlaybackCache *cache) {
  if (!mf || target.isNull())
    return false;
  return playMetafile(target, *mf, dest, cache);
}

} // namespace emf
