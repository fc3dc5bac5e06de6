// The player: runs the records of a metafile through a device context onto a QImage.
#pragma once

#include <QRect>
#include <QRgb>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

class QImage;

namespace emf {

class EnhMetaFile;
class DibRows;
class DibCache;

// What the bands of one render share, so that every bitmap of the page is prepared once rather than once per band:
// bitmaps of blits indexed for row-wise decoding, and brush patterns and masks decoded whole. Keyed by the record
// bytes, so one cache serves one metafile, which must stay alive while the cache is used. Memory is bounded:
// entries beyond the budget are dropped, least recently used first. Thread-safe.
class PlaybackCache {
public:
  explicit PlaybackCache(size_t byteBudget = size_t(256) << 20);
  ~PlaybackCache();
  PlaybackCache(const PlaybackCache &) = delete;
  PlaybackCache &operator=(const PlaybackCache &) = delete;

  // The bitmap of bmi / bits prepared for row-wise decoding (null, with *reason, when it cannot be decoded).
  std::shared_ptr<const DibRows> rows(std::span<const uint8_t> bmi, std::span<const uint8_t> bits, uint32_t usage,
                                      std::span<const QRgb> palette, bool keepAlpha, std::string *reason = nullptr);
  // Whole decoded bitmaps (pattern brushes, masks).
  DibCache &whole();
  // How many bitmaps were prepared (each once per cache).
  size_t preparedCount() const;

private:
  struct State;
  std::unique_ptr<State> d_;
};

// Plays mf into target, mapping the picture frame onto dest. Returns false when nothing could be played. Without a
// cache the bitmaps are prepared for this one play.
bool playMetafile(QImage &target, const EnhMetaFile &mf, const QRect &dest, PlaybackCache *cache = nullptr);

} // namespace emf
