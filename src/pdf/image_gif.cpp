#include "pdf/source.h"
#include "pdf/writer_internal.h"

#include <array>
#include <cstring>
#include <memory>

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

// Decodes the LZW codes of a GIF image into one index byte per pixel, appended to `out` (or only counted when it is
// null), so memory grows with the data rather than with the size the file declares. Output beyond the picture is
// dropped and a code that names no table entry is an error, so no input can make it write or read out of bounds.
class LzwDecoder {
public:
  LzwDecoder(int minCodeSize, std::vector<std::uint8_t> *out, std::size_t outSize)
      : min_(minCodeSize), clear_(1u << minCodeSize), out_(out), outSize_(outSize) {
    for (std::uint32_t i = 0; i < clear_; ++i) {
      suffix_[i] = static_cast<std::uint8_t>(i);
      prefix_[i] = kNone;
    }
    reset();
  }
  // Takes the next piece of code data; false once decoding is over (end code, picture full or a bad code).
  bool feed(const std::uint8_t *data, std::size_t n) {
    for (std::size_t i = 0; i < n && !done_; ++i) {
      bits_ |= std::uint32_t(data[i]) << count_;
      count_ += 8;
      while (count_ >= width_ && !done_) {
        std::uint32_t code = bits_ & ((1u << width_) - 1);
        bits_ >>= width_;
        count_ -= width_;
        step(code);
      }
    }
    return !done_;
  }
  bool failed() const { return failed_; }
  std::size_t produced() const { return pos_; }

private:
  static constexpr std::uint16_t kNone = 0xFFFF;

  void reset() {
    width_ = min_ + 1;
    next_ = clear_ + 2;
    prev_ = kNone;
  }
  // Writes the string of a table entry; returns its first byte.
  std::uint8_t emit(std::uint32_t code) {
    std::size_t depth = 0;
    for (std::uint32_t c = code; c != kNone && depth < stack_.size(); c = prefix_[c])
      stack_[depth++] = suffix_[c];
    const std::uint8_t first = stack_[depth - 1];
    const std::size_t take = std::min(depth, outSize_ - pos_);
    if (out_)
      for (std::size_t k = 0; k < take; ++k)
        out_->push_back(stack_[depth - 1 - k]);
    pos_ += take;
    if (pos_ >= outSize_)
      done_ = true;
    return first;
  }
  void step(std::uint32_t code) {
    if (code == clear_) {
      reset();
      return;
    }
    if (code == clear_ + 1) {
      done_ = true;
      return;
    }
    if (prev_ == kNone) {
      if (code >= clear_)
        return fail();
      emit(code);
      prev_ = static_cast<std::uint16_t>(code);
      return;
    }
    std::uint8_t first;
    if (code < next_) {
      first = emit(code);
    } else if (code == next_ && next_ < 4096) {
      // The entry being defined: the previous string followed by its own first byte.
      std::uint32_t c = prev_;
      while (prefix_[c] != kNone)
        c = prefix_[c];
      first = suffix_[c];
      add(prev_, first);
      emit(code);
      prev_ = static_cast<std::uint16_t>(code);
      grow();
      return;
    } else {
      return fail();
    }
    add(prev_, first);
    prev_ = static_cast<std::uint16_t>(code);
    grow();
  }
  void add(std::uint16_t prefix, std::uint8_t suffix) {
    if (next_ >= 4096)
      return;
    prefix_[next_] = prefix;
    suffix_[next_] = suffix;
    ++next_;
  }
  void grow() {
    if (next_ == (1u << width_) && width_ < 12)
      ++width_;
  }
  void fail() {
    failed_ = true;
    done_ = true;
  }

  int min_;
  std::uint32_t clear_;
  std::vector<std::uint8_t> *out_;
  std::size_t outSize_;
  std::size_t pos_ = 0;
  std::uint32_t bits_ = 0;
  int count_ = 0;
  int width_ = 0;
  std::uint32_t next_ = 0;
  std::uint16_t prev_ = kNone;
  bool done_ = false;
  bool failed_ = false;
  std::array<std::uint16_t, 4096> prefix_{};
  std::array<std::uint8_t, 4096> suffix_{};
  std::array<std::uint8_t, 4096> stack_{};
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
  auto shortData = [&](std::uint64_t got, std::uint64_t pixels) {
    failLoad(w, 2400,
             "Damaged GIF file '" + name + "' (its image data holds " + std::to_string(got) + " of its " +
                 std::to_string(pixels) + " pixels)");
  };
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
  bool interlaced = false;
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
      interlaced = (desc[8] & 0x40) != 0;
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
  if (codeSize < 2 || codeSize > 8)
    failLoad(w, 2462, "LZW code size " + std::to_string(codeSize) + " of GIF file '" + name + "' is not supported");

  image.paletteEntries = static_cast<int>(table.size() / 3);
  image.palette = table;
  s.components = 1;
  s.bpc = 8;
  if (codeSize != 8 || interlaced) {
    // Codes narrower than PDF's 9-bit start, or rows in interlaced order, cannot be passed through: the image
    // is decoded into one index per pixel and compressed again.
    const std::uint64_t pixels = std::uint64_t(s.width) * std::uint64_t(s.height);
    if (pixels > w->decodeLimit)
      failLoad(w, ErrNoMemory, "GIF image in file '" + name + "' is too large");
    auto indices = std::make_shared<std::vector<std::uint8_t>>();
    auto decoder = std::make_unique<LzwDecoder>(codeSize, indices.get(), static_cast<std::size_t>(pixels));
    bool complete =
        forEachSubBlock(*src, pos, [&](const std::uint8_t *d, std::size_t n) { return decoder->feed(d, n); });
    if (!complete || decoder->failed())
      damaged();
    if (indices->size() < pixels)
      shortData(indices->size(), pixels);
    if (interlaced) {
      // Passes of every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
      auto ordered = std::make_shared<std::vector<std::uint8_t>>(indices->size());
      const std::size_t rowBytes = static_cast<std::size_t>(s.width);
      static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      std::size_t from = 0;
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < s.height; y += step[pass], from += rowBytes)
          std::memcpy(ordered->data() + static_cast<std::size_t>(y) * rowBytes, indices->data() + from, rowBytes);
      indices = ordered;
    }
    image.strips.push_back([indices](const Sink &sink) {
      sink(indices->data(), indices->size());
      return true;
    });
    return;
  }

  // Check the whole code stream first so that a bad file writes nothing: the codes must be representable and
  // must stand for every pixel the file declares.
  {
    LzwRepacker check;
    const std::uint64_t pixels = std::uint64_t(s.width) * std::uint64_t(s.height);
    LzwDecoder counter(codeSize, nullptr, static_cast<std::size_t>(pixels));
    std::vector<std::uint8_t> scratch;
    bool ok = true;
    bool complete = forEachSubBlock(*src, pos, [&](const std::uint8_t *d, std::size_t n) {
      scratch.clear();
      ok = check.feed(d, n, scratch);
      counter.feed(d, n);
      return ok && !check.ended();
    });
    if (!complete || !ok || counter.failed())
      damaged();
    if (counter.produced() < pixels)
      shortData(counter.produced(), pixels);
  }

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
