#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <cstring>

namespace pdf::detail {

namespace {

// Re-packs the LZW codes of a GIF image (least significant bit first) for the PDF LZW filter with
// /EarlyChange 0 (most significant bit first). Codes keep their widths; nothing is decoded.
class LzwRepacker {
public:
  // Returns false when the code stream cannot be represented (a code after the table is full).
  bool feed(const std::uint8_t *data, std::size_t n, std::vector<std::uint8_t> &out) {
    for (std::size_t i = 0; i < n && !ended_; ++i) {
      inBits_ |= std::uint32_t(data[i]) << inCount_;
      inCount_ += 8;
      while (inCount_ >= width_ && !ended_) {
        std::uint32_t code = inBits_ & ((1u << width_) - 1);
        inBits_ >>= width_;
        inCount_ -= width_;
        if (!code_(code, out))
          return false;
      }
    }
    return true;
  }
  // Ends the output: an end code when the data had none, then the last partial byte.
  void finish(std::vector<std::uint8_t> &out) {
    if (!ended_)
      put(257, out);
    if (outCount_ > 0) {
      out.push_back(static_cast<std::uint8_t>(outBits_ << (8 - outCount_)));
      outCount_ = 0;
    }
  }
  bool ended() const { return ended_; }

private:
  void put(std::uint32_t code, std::vector<std::uint8_t> &out) {
    outBits_ = (outBits_ << width_) | code;
    outCount_ += width_;
    while (outCount_ >= 8) {
      out.push_back(static_cast<std::uint8_t>(outBits_ >> (outCount_ - 8)));
      outCount_ -= 8;
    }
    outBits_ &= (1u << outCount_) - 1;
  }
  bool code_(std::uint32_t code, std::vector<std::uint8_t> &out) {
    if (full_ && code != 256 && code != 257)
      return false;
    put(code, out);
    ++counter_;
    if (code == 256) {
      width_ = 9;
      counter_ = 257;
      full_ = false;
    } else if (code == 257) {
      ended_ = true;
    } else if (counter_ >= (1u << width_)) {
      if (width_ < 12)
        ++width_;
      else
        full_ = true;
    }
    return true;
  }

  std::uint32_t inBits_ = 0;
  int inCount_ = 0;
  std::uint32_t outBits_ = 0;
  int outCount_ = 0;
  int width_ = 9;
  std::uint32_t counter_ = 257;
  bool full_ = false;
  bool ended_ = false;
};

// Walks the data sub-blocks from `offset`; calls `piece` for each; false when the file ends first.
template <class F> bool forEachSubBlock(Source &src, std::uint64_t offset, F &&piece) {
  std::uint8_t block[256];
  for (;;) {
    std::uint8_t len;
    if (!src.readFully(offset, &len, 1))
      return false;
    ++offset;
    if (len == 0)
      return true;
    if (!src.readFully(offset, block, len))
      return false;
    offset += len;
    if (!piece(block, static_cast<std::size_t>(len)))
      return true;
  }
}

} // namespace

void loadGif(Writer *w, std::shared_ptr<Source> src, LoadedImage &image) {
  ImageSlot &s = image.slot;
  const std::string &name = s.fileName;
  auto damaged = [&]() { failLoad(w, 2400, "Damaged or truncated GIF file '" + name + "'"); };
  std::uint8_t head[13];
  if (!src->readFully(0, head, sizeof head)) {
    if (src->size() >= 6 && std::memcmp(head, "GIF", 3) == 0)
      damaged();
    failLoad(w, ErrNotOfKind, "File '" + name + "' is not a GIF file");
  }
  if (std::memcmp(head, "GIF87a", 6) != 0 && std::memcmp(head, "GIF89a", 6) != 0)
    failLoad(w, ErrNotOfKind, "File '" + name + "' is not a GIF file");
  std::uint64_t pos = 13;
  std::vector<std::uint8_t> table;
  auto readTable = [&](int sizeField) {
    std::size_t entries = std::size_t(1) << (sizeField + 1);
    table.resize(entries * 3);
    if (!src->readFully(pos, table.data(), table.size()))
      failLoad(w, 2410, "Colour table of GIF file '" + name + "' is too short");
    pos += table.size();
  };
  if (head[10] & 0x80)
    readTable(head[10] & 7);
  if (head[12] != 0) {
    s.xres = -(head[12] + 15) / 64.0;
    s.yres = -1;
  }

  for (;;) {
    std::uint8_t tag;
    if (!src->readFully(pos, &tag, 1))
      damaged();
    ++pos;
    if (tag == 0x21) {
      std::uint8_t label;
      if (!src->readFully(pos, &label, 1))
        damaged();
      ++pos;
      if (label == 0xF9) {
        std::uint8_t gce[6];
        if (!src->readFully(pos, gce, sizeof gce))
          damaged();
        if (gce[0] >= 4 && (gce[1] & 1)) {
          s.hasKey = true;
          s.key[0] = gce[4];
        }
      }
      // Skip the extension's sub-blocks.
      for (;;) {
        std::uint8_t len;
        if (!src->readFully(pos, &len, 1))
          damaged();
        pos += 1u + len;
        if (len == 0)
          break;
        if (pos > src->size())
          damaged();
      }
    } else if (tag == 0x2C) {
      std::uint8_t desc[9];
      if (!src->readFully(pos, desc, sizeof desc))
        damaged();
      pos += sizeof desc;
      s.width = desc[4] | desc[5] << 8;
      s.height = desc[6] | desc[7] << 8;
      if (desc[8] & 0x40)
        failLoad(w, 2464, "Interlaced GIF file '" + name + "' is not supported");
      if (desc[8] & 0x80)
        readTable(desc[8] & 7);
      break;
    } else if (tag == 0x3B) {
      failLoad(w, 2402, "GIF file '" + name + "' holds no image");
    } else {
      damaged();
    }
  }
  if (s.width <= 0 || s.height <= 0)
    damaged();
  if (table.empty())
    failLoad(w, 2410, "GIF file '" + name + "' has no colour table");
  std::uint8_t codeSize;
  if (!src->readFully(pos, &codeSize, 1))
    damaged();
  ++pos;
  if (codeSize != 8)
    failLoad(w, 2462, "LZW code size " + std::to_string(codeSize) + " of GIF file '" + name + "' is not supported");

  // Check the whole code stream first so that a bad file writes nothing.
  {
    LzwRepacker check;
    std::vector<std::uint8_t> scratch;
    bool ok = true;
    bool complete = forEachSubBlock(*src, pos, [&](const std::uint8_t *d, std::size_t n) {
      scratch.clear();
      ok = check.feed(d, n, scratch);
      return ok && !check.ended();
    });
    if (!complete || !ok)
      damaged();
  }

  image.paletteEntries = static_cast<int>(table.size() / 3);
  image.palette = table;
  s.components = 1;
  s.bpc = 8;
  s.passThrough = true;
  s.filter = FilterLZW;
  s.extraParms = "/EarlyChange 0";
  std::uint64_t dataStart = pos;
  image.strips.push_back([src, dataStart](const Sink &sink) {
    LzwRepacker packer;
    std::vector<std::uint8_t> out;
    bool ok = true;
    bool complete = forEachSubBlock(*src, dataStart, [&](const std::uint8_t *d, std::size_t n) {
      out.clear();
      ok = packer.feed(d, n, out);
      sink(out.data(), out.size());
      return ok && !packer.ended();
    });
    out.clear();
    packer.finish(out);
    sink(out.data(), out.size());
    return complete && ok;
  });
}

} // namespace pdf::detail
