// Enhanced metafile object: validated bytes plus the parsed header, shared and immutable, and the operations
// the rest of the program uses on it (made from memory, loaded, copied, saved, released, played).
#pragma once

#include <QRect>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

class QImage;

namespace emf {

struct RECTL {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct SIZEL {
  int32_t cx = 0, cy = 0;
};

// The fixed part of the header record, 108 bytes when every optional field is present.
struct ENHMETAHEADER {
  uint32_t iType = 0;
  uint32_t nSize = 0;
  RECTL rclBounds;
  RECTL rclFrame; // 0.01 mm
  uint32_t dSignature = 0;
  uint32_t nVersion = 0;
  uint32_t nBytes = 0;
  uint32_t nRecords = 0;
  uint16_t nHandles = 0;
  uint16_t sReserved = 0;
  uint32_t nDescription = 0;
  uint32_t offDescription = 0;
  uint32_t nPalEntries = 0;
  SIZEL szlDevice;      // reference device, pixels
  SIZEL szlMillimeters; // reference device, millimetres
  uint32_t cbPixelFormat = 0;
  uint32_t offPixelFormat = 0;
  uint32_t bOpenGL = 0;
  SIZEL szlMicrometers;
};

// Where one record lies in the bytes (after validation every record fits).
struct RecordRef {
  uint32_t type = 0;
  uint32_t offset = 0;
  uint32_t size = 0;
};

class EnhMetaFile;
// A metafile handle; empty means "no metafile".
using HENHMETAFILE = std::shared_ptr<const EnhMetaFile>;

class EnhMetaFile {
public:
  const std::vector<uint8_t> &bytes() const { return bytes_; }
  const ENHMETAHEADER &header() const { return header_; }
  // UTF-16 description from the header, converted; empty when there is none.
  std::u16string description() const;

  // Validates the bytes; on failure returns nothing and sets *reason (when given) to a readable cause.
  static HENHMETAFILE fromBytes(std::vector<uint8_t> bytes, std::string *reason = nullptr);

  EnhMetaFile(std::vector<uint8_t> bytes, const ENHMETAHEADER &h) : bytes_(std::move(bytes)), header_(h) {}

  // The record list from the header to EMR_EOF (or the end of the data), built on first use and kept: every
  // playback (every band of a render) walks this list instead of the bytes. Safe to call from several threads.
  const std::vector<RecordRef> &records() const;

private:
  std::vector<uint8_t> bytes_;
  ENHMETAHEADER header_;
  mutable std::once_flag recordsOnce_;
  mutable std::vector<RecordRef> records_;
};

// The operations as the rest of the program names them.
HENHMETAFILE SetEnhMetaFileBits(std::span<const uint8_t> data, std::string *reason = nullptr);
HENHMETAFILE GetEnhMetaFileA(const std::string &path, std::string *reason = nullptr);
// Writes the metafile to path and returns a handle to the copy; with an empty path the copy stays in memory.
HENHMETAFILE CopyEnhMetaFileA(const HENHMETAFILE &mf, const std::string &path);
bool DeleteEnhMetaFile(HENHMETAFILE &mf);
// Copies up to size bytes of the header into out; returns the bytes copied (0 when mf is empty).
// With out == nullptr returns the header's size.
uint32_t GetEnhMetaFileHeader(const HENHMETAFILE &mf, uint32_t size, ENHMETAHEADER *out);

class PlaybackCache;

// Plays the metafile into target (Format_RGB32), mapping the picture frame onto dest (device pixels, may lie
// partly or wholly outside the image: the bands of a page pass the whole page shifted up). The bands of one render
// pass one cache (see player.h) so that each bitmap is prepared once per render.
bool PlayEnhMetaFile(QImage &target, const HENHMETAFILE &mf, const QRect &dest, PlaybackCache *cache = nullptr);

} // namespace emf
