// A small writer of metafile records for tests: a header, records with 32-bit (or raw) parameters, and EMR_EOF.
// The default picture maps 1:1 onto a 1000 x 1000 destination: the reference device has 10 pixels per
// millimetre and the frame is 100 x 100 mm.
#pragma once

#include "emf/emf_records.h"
#include "emf/metafile.h"

#include <QString>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace emftest {

class EmfBuilder {
public:
  struct Options {
    emf::RECTL frame{0, 0, 10000, 10000}; // 0.01 mm
    emf::SIZEL device{1000, 1000};        // pixels
    emf::SIZEL millimeters{100, 100};
    uint16_t handles = 16;
  };

  EmfBuilder() : EmfBuilder(Options{}) {}
  explicit EmfBuilder(const Options &o) : opt_(o) {}

  // A record whose parameters are 32-bit values.
  EmfBuilder &rec(uint32_t type, std::initializer_list<int32_t> params) {
    std::vector<uint8_t> p;
    for (int32_t v : params)
      put32(p, uint32_t(v));
    return raw(type, p);
  }
  // A record with a payload as given (padded to a multiple of 4).
  EmfBuilder &raw(uint32_t type, std::vector<uint8_t> payload) {
    while (payload.size() % 4)
      payload.push_back(0);
    put32(body_, type);
    put32(body_, uint32_t(payload.size() + 8));
    body_.insert(body_.end(), payload.begin(), payload.end());
    ++records_;
    return *this;
  }

  static uint32_t rgb(uint8_t r, uint8_t g, uint8_t b) { return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16; }

  EmfBuilder &solidBrush(uint32_t index, uint32_t colorRef) {
    return rec(emf::EMR_CREATEBRUSHINDIRECT, {int32_t(index), int32_t(emf::BS_SOLID), int32_t(colorRef), 0});
  }
  EmfBuilder &pen(uint32_t index, uint32_t style, int32_t width, uint32_t colorRef) {
    return rec(emf::EMR_CREATEPEN, {int32_t(index), int32_t(style), width, 0, int32_t(colorRef)});
  }
  EmfBuilder &select(uint32_t index) { return rec(emf::EMR_SELECTOBJECT, {int32_t(index)}); }
  EmfBuilder &stock(uint32_t stockIndex) { return select(stockIndex | emf::STOCK_OBJECT_FLAG); }
  EmfBuilder &rectangle(int32_t l, int32_t t, int32_t r, int32_t b) { return rec(emf::EMR_RECTANGLE, {l, t, r, b}); }
  // Fills the pixels l..r, t..b (inclusive, MM_TEXT at 1:1) with a colour: selects a new brush in slot 15 and the
  // null pen.
  EmfBuilder &fill(int32_t l, int32_t t, int32_t r, int32_t b, uint32_t colorRef) {
    solidBrush(15, colorRef).select(15).stock(emf::NULL_PEN);
    // A rectangle excludes its right and bottom edge, and without a pen loses one more row and column.
    return rectangle(l, t, r + 2, b + 2);
  }
  EmfBuilder &font(uint32_t index, int32_t height, const QString &face, int32_t weight = 400, int32_t escapement = 0,
                   uint8_t charSet = 0) {
    std::vector<uint8_t> p;
    put32(p, index);
    for (int32_t v : {height, 0, escapement, escapement, weight})
      put32(p, uint32_t(v));
    for (int i = 0; i < 8; ++i)
      p.push_back(i == 3 ? charSet : 0); // italic, underline, strike-out, character set .. pitch and family
    for (int i = 0; i < 32; ++i) {
      const char16_t c = i < face.size() ? char16_t(face[i].unicode()) : u'\0';
      p.push_back(uint8_t(c & 0xff));
      p.push_back(uint8_t(c >> 8));
    }
    p.resize(p.size() + 320 - 68, 0); // the rest of the extended logical font
    return raw(emf::EMR_EXTCREATEFONTINDIRECTW, p);
  }
  // EMR_EXTTEXTOUTW at (x, y) with optional dx array.
  EmfBuilder &textW(int32_t x, int32_t y, const QString &text, uint32_t options = 0,
                    const std::vector<int32_t> &dx = {}, emf::RECTL rcl = {}) {
    std::vector<uint8_t> p;
    for (int i = 0; i < 4; ++i)
      put32(p, 0); // bounds
    put32(p, 1);   // graphics mode
    put32(p, 0x3f800000);
    put32(p, 0x3f800000);
    const uint32_t n = uint32_t(text.size());
    const uint32_t offString = 36 + 40;
    const uint32_t strBytes = (n * 2 + 3) / 4 * 4;
    const uint32_t offDx = dx.empty() ? 0 : offString + strBytes;
    put32(p, uint32_t(x));
    put32(p, uint32_t(y));
    put32(p, n);
    put32(p, offString);
    put32(p, options);
    for (int32_t v : {rcl.left, rcl.top, rcl.right, rcl.bottom})
      put32(p, uint32_t(v));
    put32(p, offDx);
    for (QChar c : text) {
      p.push_back(uint8_t(c.unicode() & 0xff));
      p.push_back(uint8_t(c.unicode() >> 8));
    }
    while (p.size() % 4)
      p.push_back(0);
    for (int32_t v : dx)
      put32(p, uint32_t(v));
    return raw(emf::EMR_EXTTEXTOUTW, p);
  }
  // EXTSELECTCLIPRGN with rectangles in device units; no rectangles writes an empty region (cbRgnData 0).
  EmfBuilder &clipRegion(uint32_t mode, const std::vector<emf::RECTL> &rects) {
    std::vector<uint8_t> p;
    if (rects.empty()) {
      put32(p, 0);
      put32(p, mode);
      return raw(emf::EMR_EXTSELECTCLIPRGN, p);
    }
    put32(p, uint32_t(32 + 16 * rects.size()));
    put32(p, mode);
    put32(p, 32);
    put32(p, 1);
    put32(p, uint32_t(rects.size()));
    put32(p, uint32_t(16 * rects.size()));
    for (int i = 0; i < 4; ++i)
      put32(p, 0);
    for (const auto &r : rects)
      for (int32_t v : {r.left, r.top, r.right, r.bottom})
        put32(p, uint32_t(v));
    return raw(emf::EMR_EXTSELECTCLIPRGN, p);
  }

  // The finished bytes: header (108 bytes, no description), the records, EMR_EOF.
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out;
    const uint32_t headerSize = 108;
    put32(out, emf::EMR_HEADER);
    put32(out, headerSize);
    for (int32_t v : {0, 0, opt_.device.cx - 1, opt_.device.cy - 1})
      put32(out, uint32_t(v)); // bounds
    for (int32_t v : {opt_.frame.left, opt_.frame.top, opt_.frame.right, opt_.frame.bottom})
      put32(out, uint32_t(v));
    put32(out, 0x464D4520);
    put32(out, 0x10000);
    put32(out, uint32_t(headerSize + body_.size() + 20));
    put32(out, records_ + 2);
    out.push_back(uint8_t(opt_.handles & 0xff));
    out.push_back(uint8_t(opt_.handles >> 8));
    out.push_back(0);
    out.push_back(0);
    put32(out, 0); // nDescription
    put32(out, 0); // offDescription
    put32(out, 0); // nPalEntries
    put32(out, uint32_t(opt_.device.cx));
    put32(out, uint32_t(opt_.device.cy));
    put32(out, uint32_t(opt_.millimeters.cx));
    put32(out, uint32_t(opt_.millimeters.cy));
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, uint32_t(opt_.millimeters.cx * 1000));
    put32(out, uint32_t(opt_.millimeters.cy * 1000));
    out.insert(out.end(), body_.begin(), body_.end());
    // EMR_EOF: nPalEntries, offPalEntries, nSizeLast.
    for (uint32_t v : {uint32_t(emf::EMR_EOF), 20u, 0u, 16u, 20u})
      put32(out, v);
    return out;
  }
  emf::HENHMETAFILE metafile() const { return emf::SetEnhMetaFileBits(bytes()); }

  static void put32(std::vector<uint8_t> &v, uint32_t x) {
    for (int i = 0; i < 4; ++i)
      v.push_back(uint8_t(x >> (8 * i)));
  }

private:
  Options opt_;
  std::vector<uint8_t> body_;
  uint32_t records_ = 0;
};

} // namespace emftest
