// Bounds-checked little-endian reading over a byte span. Every read past the end yields zero and marks the
// reader as failed, so a parser can read a whole structure and check ok() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace emf {

class Reader {
public:
  Reader() = default;
  explicit Reader(std::span<const uint8_t> data) : data_(data) {}

  size_t size() const { return data_.size(); }
  size_t pos() const { return pos_; }
  size_t remaining() const { return pos_ <= data_.size() ? data_.size() - pos_ : 0; }
  bool ok() const { return ok_; }
  void fail() { ok_ = false; }

  // Moves to an absolute offset; an offset past the end fails the reader.
  bool seek(size_t offset) {
    if (offset > data_.size()) {
      ok_ = false;
      return false;
    }
    pos_ = offset;
    return true;
  }
  bool skip(size_t n) { return n <= remaining() ? seek(pos_ + n) : (ok_ = false); }
  // True when n more bytes can be read from the current position.
  bool has(size_t n) const { return n <= remaining(); }

  uint8_t u8() {
    if (!has(1)) {
      ok_ = false;
      return 0;
    }
    return data_[pos_++];
  }
  uint16_t u16() {
    if (!has(2)) {
      ok_ = false;
      pos_ = data_.size();
      return 0;
    }
    uint16_t v = uint16_t(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  uint32_t u32() {
    if (!has(4)) {
      ok_ = false;
      pos_ = data_.size();
      return 0;
    }
    uint32_t v = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 | uint32_t(data_[pos_ + 2]) << 16 |
                 uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return v;
  }
  int16_t i16() { return int16_t(u16()); }
  int32_t i32() { return int32_t(u32()); }
  float f32() {
    uint32_t v = u32();
    float f;
    static_assert(sizeof f == 4);
    __builtin_memcpy(&f, &v, 4);
    return f;
  }

  // A sub-span of n bytes at an absolute offset, or an empty span (and failure) when it does not fit.
  std::span<const uint8_t> bytesAt(size_t offset, size_t n) {
    if (offset > data_.size() || n > data_.size() - offset) {
      ok_ = false;
      return {};
    }
    return data_.subspan(offset, n);
  }
  std::span<const uint8_t> data() const { return data_; }

private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// Little-endian helpers for callers that already checked the bounds.
inline uint32_t readU32(const uint8_t *p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace emf
