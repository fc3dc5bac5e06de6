// Shared helpers of the capture tests: a private folder set per test (temporary folder, registry, data folder),
// small enhanced metafiles made in memory, spool file bytes, and a window that records what is done to it.
#pragma once

#include "capture/capture_window.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace capture_test {

inline void put32(std::vector<uint8_t> &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(uint8_t(v >> (8 * i)));
}

inline uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// A valid enhanced metafile of a header and an end record; frame widthMm x heightMm, `tag` kept in rclBounds.left
// so tests can tell pages apart.
inline std::vector<uint8_t> MakeEmf(int widthMm = 210, int heightMm = 297, uint32_t tag = 0) {
  std::vector<uint8_t> b;
  put32(b, 1);   // EMR_HEADER
  put32(b, 108); // size
  put32(b, tag); // rclBounds
  put32(b, 0);
  put32(b, uint32_t(widthMm * 4));
  put32(b, uint32_t(heightMm * 4));
  put32(b, 0); // rclFrame, 0.01 mm
  put32(b, 0);
  put32(b, uint32_t(widthMm * 100));
  put32(b, uint32_t(heightMm * 100));
  put32(b, 0x464D4520); // " EMF"
  put32(b, 0x10000);
  put32(b, 108 + 20); // nBytes
  put32(b, 2);        // nRecords
  put32(b, 1);        // nHandles, reserved
  put32(b, 0);        // nDescription
  put32(b, 0);        // offDescription
  put32(b, 0);        // nPalEntries
  put32(b, 1000);     // szlDevice
  put32(b, 1400);
  put32(b, 254); // szlMillimeters
  put32(b, 356);
  put32(b, 0); // cbPixelFormat, offPixelFormat, bOpenGL
  put32(b, 0);
  put32(b, 0);
  put32(b, 254000); // szlMicrometers
  put32(b, 356000);
  put32(b, 14); // EMR_EOF
  put32(b, 20);
  put32(b, 0);
  put32(b, 16);
  put32(b, 20);
  return b;
}

// The tag MakeEmf put into a page file; -1 when the file cannot be read.
inline int64_t TagOf(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return -1;
  const QByteArray b = f.readAll();
  if (b.size() < 12)
    return -1;
  return int64_t(uint8_t(b[8]) | uint8_t(b[9]) << 8 | uint8_t(b[10]) << 16 | uint32_t(uint8_t(b[11])) << 24);
}

inline bool WriteBytes(const QString &path, const std::vector<uint8_t> &bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) == qint64(bytes.size());
}

inline QByteArray ReadAll(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Spool header of the given size (at least 8), version as given.
inline std::vector<uint8_t> SpoolHeader(uint32_t headerSize = 16, uint32_t version = 0x00010000) {
  std::vector<uint8_t> b;
  put32(b, version);
  put32(b, headerSize);
  while (b.size() < headerSize)
    b.push_back(0xAB);
  return b;
}

inline void AppendRecord(std::vector<uint8_t> &b, uint32_t type, const std::vector<uint8_t> &payload) {
  put32(b, type);
  put32(b, uint32_t(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
}

// Every test gets its own runtime, temporary, registry and data folders (and so its own work folder and spool
// folders), set through the environment the program reads them from.
class CaptureEnv : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    for (const char *d : {"tmp", "reg", "data", "run"})
      ASSERT_TRUE(QDir(root_.path()).mkpath(d));
    QFile::setPermissions(root_.path() + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", (root_.path() + "/run").toLocal8Bit());
    qputenv("TMPDIR", (root_.path() + "/tmp").toLocal8Bit());
    qputenv("FOLVEX_REGISTRY_DIR", (root_.path() + "/reg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", (root_.path() + "/data").toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (root_.path() + "/data").toLocal8Bit());
  }
  QString root() const { return root_.path(); }
  QTemporaryDir root_;
};

// Records the calls made on it, and whether each came on the thread that made the window.
class FakeWindow : public capture::CaptureWindow {
public:
  std::vector<std::string> calls;
  std::vector<QString> messages;
  std::vector<QRect> stripRects;
  int scrollMax = -1;
  int timerId = -1, timerMs = -1;
  bool wrongThread = false;
  QRect client{0, 0, 156, 600};
  int screenPixels = 0;
  double screenMm = 0;
  QThread *owner = QThread::currentThread();

  int count(const std::string &call) const {
    int n = 0;
    for (const auto &c : calls)
      n += c == call;
    return n;
  }
  void note(std::string c) {
    if (QThread::currentThread() != owner)
      wrongThread = true;
    calls.push_back(std::move(c));
  }

  QRect stripClientRect() override {
    note("stripClientRect");
    return client;
  }
  void repaintStrip(bool erase) override { note(erase ? "repaintStrip(erase)" : "repaintStrip"); }
  void repaintStripRect(const QRect &r, bool erase) override {
    note(erase ? "repaintStripRect(erase)" : "repaintStripRect");
    stripRects.push_back(r);
  }
  void setStripScrollRange(int mn, int mx, bool redraw) override {
    note("setStripScrollRange(" + std::to_string(mn) + "," + std::to_string(mx) + (redraw ? ",redraw)" : ")"));
    scrollMax = mx;
  }
  void setStripScrollPos(int p, bool redraw) override {
    note("setStripScrollPos(" + std::to_string(p) + (redraw ? ",redraw)" : ")"));
  }
  void setStripScrollOffset(int px) override { note("setStripScrollOffset(" + std::to_string(px) + ")"); }
  void scrollStripToEnd() override { note("scrollStripToEnd"); }
  void armScanTimer(int id, int ms) override {
    note("armScanTimer");
    timerId = id;
    timerMs = ms;
  }
  void repaintPreview(bool erase) override { note(erase ? "repaintPreview(erase)" : "repaintPreview"); }
  void repaintPageInfoArea() override { note("repaintPageInfoArea"); }
  void repaintReadinessArea() override { note("repaintReadinessArea"); }
  void repaintPrinterButton() override { note("repaintPrinterButton"); }
  void showMessage(const QString &text) override {
    note("showMessage");
    messages.push_back(text);
  }
  bool displayMetrics(int &px, double &mm) override {
    note("displayMetrics");
    px = screenPixels;
    mm = screenMm;
    return screenPixels > 0;
  }
  void renderCurrentPage() override { note("renderCurrentPage"); }
};

inline QString SharedDir() { return QStringLiteral(FOLVEX_SHARED_DIR); }
inline QString DataDir() { return QStringLiteral(FOLVEX_TEST_DATA) + "/capture"; }

} // namespace capture_test
