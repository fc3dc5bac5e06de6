#include "platform/paths.h"
#include "render/image_writer.h"
#include "render/rasteriser.h"
#include "settings/settings.h"
#include "test_support.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using render::RenderOptions;
using render::RenderPage;

namespace {

class RenderPageTest : public ::testing::Test {
protected:
  void SetUp() override {
    settings() = Settings{};
    settings().JPG_Default = false; // BMP: no format options that change pixels
    render::setPageRotationSource({});
  }
  void TearDown() override {
    settings() = Settings{};
    render::setPageRotationSource({});
  }
  static RenderOptions noFile() {
    RenderOptions o;
    o.outputMode = 2;
    return o;
  }
};

struct RecordingProgress : render::RenderProgress {
  int low = -1, high = -1;
  std::vector<int> positions;
  void setRange(int l, int h) override {
    low = l;
    high = h;
  }
  void setPosition(int pos) override { positions.push_back(pos); }
};

int darkPixels(const QImage &img, QRect *box = nullptr) {
  int n = 0;
  QRect b;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qGray(img.pixel(x, y)) < 100) {
        ++n;
        b = b.united(QRect(x, y, 1, 1));
      }
  if (box)
    *box = b;
  return n;
}

} // namespace

TEST_F(RenderPageTest, A4SizesAndTheRecordedMillimetres) {
  const emf::HENHMETAFILE a4 = rtest::blankPage(21000, 29700);
  ASSERT_TRUE(a4);
  Magick::Image img = RenderPage(100, a4, 0, noFile());
  EXPECT_EQ(img.columns(), 827u);
  EXPECT_EQ(img.rows(), 1170u);
  EXPECT_EQ(render::lastRenderRecord().widthMm, 210);
  EXPECT_EQ(render::lastRenderRecord().heightMm, 297);

  settings().ScaleCur = 50;
  img = RenderPage(100, a4, 0, noFile());
  EXPECT_EQ(img.columns(), 414u);
  EXPECT_EQ(img.rows(), 585u);
  EXPECT_EQ(render::lastRenderRecord().widthMm, 210) << "millimetres come from the unscaled frame";

  // Thumbnails ignore the scale.
  RenderOptions thumb = noFile();
  thumb.thumbnail = true;
  img = RenderPage(50, a4, 0, thumb);
  EXPECT_EQ(img.columns(), 414u);
  EXPECT_EQ(img.rows(), 585u);
}

TEST_F(RenderPageTest, DensityIsTheResolutionInPixelsPerInch) {
  const emf::HENHMETAFILE page = rtest::blankPage(2540, 2540);
  Magick::Image img = RenderPage(150.7, page, 0, noFile());
  EXPECT_EQ(img.columns(), 151u);
  EXPECT_EQ(img.resolutionUnits(), MagickCore::PixelsPerInchResolution);
  EXPECT_DOUBLE_EQ(img.density().width(), 150.0);
}

TEST_F(RenderPageTest, WithoutMetafileTheNoticeIsCentredOnTheBackground) {
  settings().lvBkGrHathStyle = 99;
  Magick::Image img = RenderPage(100, nullptr, 0, noFile());
  ASSERT_EQ(img.columns(), 250u);
  ASSERT_EQ(img.rows(), 200u);
  const QImage q = rtest::toQImage(img);
  QRect box;
  EXPECT_GT(darkPixels(q, &box), 50);
  EXPECT_NEAR(box.center().x(), 125, 6);
  EXPECT_NEAR(box.center().y(), 100, 6);
  EXPECT_EQ(q.pixel(5, 5) & 0xFFFFFF, 0x80FF80u) << "the background style applies";
}

TEST_F(RenderPageTest, BandsEqualAWholePageRenderAtFactors1And3) {
  const emf::HENHMETAFILE page = rtest::loadData("gen-07-lines-curves.emf");
  ASSERT_TRUE(page);
  settings().lvBkGrHathStyle = 4;
  settings().lvHatchAngle = 30;
  for (int f : {0, 3}) {
    settings().KodAntialias = f;
    const double dpi = f == 0 ? 60 : 40; // several bands, a short last one
    Magick::Image img = RenderPage(dpi, page, 0, noFile());
    const int S = f == 0 ? 1 : f;
    const int cols = int(img.columns()), rows = int(img.rows());
    ASSERT_GT(rows * S, render::PlanBands(rows, f, false).B * 2);
    render::BackgroundParams bg = render::BackgroundParams::fromSettings(settings(), -1, -1, -1, false);
    bg.m = S;
    const QImage expected = rtest::averageWhole(rtest::wholePage(page, cols, rows, S, bg), S);
    const QImage got = rtest::toQImage(img);
    int differ = 0;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < cols; ++x)
        differ += expected.pixel(x, y) != got.pixel(x, y);
    EXPECT_EQ(differ, 0) << "factor " << f;
  }
}

TEST_F(RenderPageTest, ProgressRunsOverTheBands) {
  const emf::HENHMETAFILE a4 = rtest::blankPage(21000, 29700);
  RecordingProgress progress;
  RenderOptions o = noFile();
  o.progress = &progress;
  settings().KodAntialias = 2;
  RenderPage(100, a4, 0, o); // 1170 rows: bands of 200 output rows, 6 bands
  EXPECT_EQ(progress.low, 0);
  EXPECT_EQ(progress.high, 6);
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 1, 2, 3, 4, 5}));

  // A page of exactly two bands: the empty third band is neither drawn nor reported.
  RecordingProgress even;
  o.progress = &even;
  RenderPage(100, rtest::blankPage(2540, 10160), 0, o); // 400 rows
  EXPECT_EQ(even.high, 3);
  EXPECT_EQ(even.positions, (std::vector<int>{0, 1}));
}

TEST_F(RenderPageTest, EvenBandSplitStillFillsTheLastRows) {
  settings().lvBkGrHathStyle = 99;
  settings().KodAntialias = 2;
  Magick::Image img = RenderPage(100, rtest::blankPage(2540, 10160), 0, noFile());
  ASSERT_EQ(img.rows(), 400u);
  const QImage q = rtest::toQImage(img);
  EXPECT_EQ(q.pixel(10, 399) & 0xFFFFFF, 0x80FF80u);
  EXPECT_EQ(q.pixel(10, 200) & 0xFFFFFF, 0x80FF80u);
}

TEST_F(RenderPageTest, RotationSwapsTheSidesButNotForThumbnails) {
  const emf::HENHMETAFILE page = rtest::blankPage(2540, 5080);
  render::setPageRotationSource([](int index) { return index == 7 ? 90.0 : 0.0; });
  Magick::Image img = RenderPage(50, page, 7, noFile());
  EXPECT_EQ(img.columns(), 100u);
  EXPECT_EQ(img.rows(), 50u);
  img = RenderPage(50, page, 3, noFile());
  EXPECT_EQ(img.columns(), 50u);
  RenderOptions thumb = noFile();
  thumb.thumbnail = true;
  img = RenderPage(50, page, 7, thumb);
  EXPECT_EQ(img.columns(), 50u);
  EXPECT_EQ(img.rows(), 100u);
}

TEST_F(RenderPageTest, OnlyOutputMode0WritesTheCurrentImageFile) {
  settings().JPG_Default = false;
  settings().PNG_Default = true;
  const std::string path = platform::workFolder() + "~CurImg.png";
  QFile::remove(QString::fromStdString(path));
  const emf::HENHMETAFILE page = rtest::loadData("gen-07-lines-curves.emf");
  ASSERT_TRUE(page);
  Magick::Image img = RenderPage(100, page, 0, RenderOptions{});
  const QFileInfo info(QString::fromStdString(path));
  ASSERT_TRUE(info.exists());
  const int kb = render::lastRenderRecord().fileKb;
  EXPECT_EQ(kb, int(info.size() >> 10));
  EXPECT_EQ(render::CurrentImageFilePath(), path);
  // What is returned is what the file holds.
  Magick::Image fromFile(path);
  EXPECT_EQ(img.columns(), fromFile.columns());
  EXPECT_EQ(img.signature(), fromFile.signature());

  // Output modes 1 and 2 write nothing and keep the recorded size.
  QFile::remove(QString::fromStdString(path));
  for (int mode : {1, 2}) {
    RenderOptions o;
    o.outputMode = mode;
    o.pdfInsideFormat = "BMP";
    RenderPage(30, page, 0, o);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path))) << "mode " << mode;
    EXPECT_EQ(render::lastRenderRecord().fileKb, kb) << "mode " << mode;
  }
  // Thumbnails write nothing either.
  RenderOptions thumb;
  thumb.thumbnail = true;
  RenderPage(50, page, 0, thumb);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

TEST_F(RenderPageTest, PagesThatCannotBeDrawnGiveAnEmptyImage) {
  for (const emf::HENHMETAFILE &page :
       {rtest::blankPage(0, 100), rtest::blankPage(-500, 100), rtest::blankPage(2000000000, 2000000000)}) {
    if (!page)
      continue; // a header the metafile object refuses cannot reach the rasteriser
    Magick::Image img = RenderPage(300, page, 0, noFile());
    EXPECT_EQ(img.columns() * img.rows(), 0u);
  }
}

TEST_F(RenderPageTest, ThumbnailAndOutputModeDoNotLeakBetweenThreads) {
  const emf::HENHMETAFILE a4 = rtest::blankPage(21000, 29700);
  settings().ScaleCur = 50;
  settings().KodAntialias = 2;
  render::setPageRotationSource([](int) { return 90.0; });
  std::atomic<int> wrongThumbs{0}, wrongPages{0};
  std::thread thumbs([&] {
    RenderOptions o;
    o.thumbnail = true;
    for (int i = 0; i < 6; ++i) {
      Magick::Image img = RenderPage(50, a4, 0, o);
      wrongThumbs += !(img.columns() == 414 && img.rows() == 585); // unscaled, unrotated
    }
  });
  std::thread pages([&] {
    RenderOptions o;
    o.outputMode = 2;
    for (int i = 0; i < 6; ++i) {
      Magick::Image img = RenderPage(40, a4, 0, o);
      wrongPages += !(img.columns() == 234 && img.rows() == 166); // half scale, turned
    }
  });
  thumbs.join();
  pages.join();
  EXPECT_EQ(wrongThumbs.load(), 0);
  EXPECT_EQ(wrongPages.load(), 0);
}

TEST_F(RenderPageTest, TwoRendersOfTheCurrentImageNeverRunAtTheSameTime) {
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  struct Guard : render::RenderProgress {
    std::atomic<int> &inside;
    std::atomic<bool> &overlap;
    Guard(std::atomic<int> &i, std::atomic<bool> &o) : inside(i), overlap(o) {}
    void setRange(int, int) override {
      if (inside.fetch_add(1) != 0)
        overlap = true;
    }
    void setPosition(int) override {
      if (inside.load() != 1)
        overlap = true;
    }
  };
  // The rotation is looked up once at the end of every non-thumbnail render: the render leaves there.
  render::setPageRotationSource([&](int) {
    inside.fetch_sub(1);
    return 0.0;
  });
  const emf::HENHMETAFILE page = rtest::loadData("gen-07-lines-curves.emf");
  ASSERT_TRUE(page);
  auto worker = [&] {
    Guard g(inside, overlap);
    RenderOptions o; // single image files: every render writes the one current-image file
    o.progress = &g;
    for (int i = 0; i < 4; ++i)
      RenderPage(30, page, 0, o);
  };
  std::thread a(worker), b(worker);
  a.join();
  b.join();
  EXPECT_FALSE(overlap.load());
  EXPECT_EQ(inside.load(), 0);
}

TEST_F(RenderPageTest, SharpeningChangesTheImageAndFormatOptionsApplyToThumbnails) {
  const emf::HENHMETAFILE page = rtest::loadData("gen-07-lines-curves.emf");
  ASSERT_TRUE(page);
  RenderOptions thumb;
  thumb.thumbnail = true;
  Magick::Image plain = RenderPage(50, page, 0, thumb);
  settings().lvSharpen = true;
  Magick::Image sharp = RenderPage(50, page, 0, thumb);
  EXPECT_NE(plain.signature(), sharp.signature());
  settings().lvSharpen = false;

  // GIF as the current format: a thumbnail is reduced to GIF_Colors colours too.
  settings().lvBkGrHathStyle = 5;
  settings().GIF_Default = true;
  settings().GIF_Colors = 8;
  Magick::Image gif = RenderPage(50, page, 0, thumb);
  EXPECT_LE(gif.totalColors(), 8u);
  settings().GIF_Default = false;
  Magick::Image full = RenderPage(50, page, 0, thumb);
  EXPECT_GT(full.totalColors(), 8u);
}

TEST_F(RenderPageTest, OnePixelLinesKeepAThirdOfTheirContrastAt3x) {
  settings().lvBkGrHathStyle = 4;
  settings().lvCurBkGrColor = 0xFFFFFF;
  settings().lvHatchColor = 0x000000;
  settings().lvHatchLnHor = false; // vertical lines only
  settings().KodAntialias = 3;
  const QImage q = rtest::toQImage(RenderPage(100, rtest::blankPage(2540, 1270), 0, noFile()));
  ASSERT_EQ(q.width(), 100);
  int lines = 0, other = 0;
  for (int x = 0; x < q.width(); ++x) {
    const int v = qRed(q.pixel(x, 25));
    lines += v == 170; // one black sample column in three: 6 x 255 / 9
    other += v != 170 && v != 255;
  }
  EXPECT_GT(lines, 8);
  EXPECT_EQ(other, 0);
}

TEST_F(RenderPageTest, StampOnPagesButNotOnThumbnails) {
  const emf::HENHMETAFILE page = rtest::blankPage(5080, 2540);
  settings().KodAntialias = 2;
  settings().lvIncludeDateTime = true;
  QImage q = rtest::toQImage(RenderPage(100, page, 0, noFile()));
  QRect box;
  EXPECT_GT(darkPixels(q, &box), 20);
  EXPECT_LT(box.bottom(), 20) << "top-left corner only";
  EXPECT_LT(box.left(), 10);
  RenderOptions thumb = noFile();
  thumb.thumbnail = true;
  q = rtest::toQImage(RenderPage(100, page, 0, thumb));
  EXPECT_EQ(darkPixels(q), 0);
}

namespace {

// Colours of an image file as read back by the image library.
size_t fileColours(const std::string &path) { return Magick::Image(path).totalColors(); }

QByteArray fileBytes(const std::string &path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST_F(RenderPageTest, SharpenedIndexedFilesKeepTheChosenColourCount) {
  const emf::HENHMETAFILE page = rtest::loadData("gen-07-lines-curves.emf");
  ASSERT_TRUE(page);
  settings().lvBkGrHathStyle = 5;
  settings().KodAntialias = 3;
  settings().lvSharpen = true;
  settings().GIF_Colors = settings().PNG_Colors = settings().TIF_Colors = 64;
  settings().PNG_TrueIndexGray = settings().TIF_TrueIndexGray = 1;
  for (const char *ext : {".gif", ".png", ".tif"}) {
    settings().GIF_Default = std::string(ext) == ".gif";
    settings().PNG_Default = std::string(ext) == ".png";
    settings().TIF_Default = std::string(ext) == ".tif";
    Magick::Image img = RenderPage(60, page, 0, RenderOptions{});
    EXPECT_LE(fileColours(platform::workFolder() + "~CurImg" + ext), 64u) << ext;
    // An export writes the returned image again.
    const std::string again = platform::workFolder() + "again" + ext;
    img.write(again);
    EXPECT_LE(fileColours(again), 64u) << ext;
    EXPECT_GT(fileColours(again), 16u) << ext << ": the page has many colours to reduce";
  }
}

TEST_F(RenderPageTest, TrueColourFilesOfAGreyPageAreTrueColour) {
  const emf::HENHMETAFILE page = rtest::blankPage(5080, 2540);
  // Black lines on white: a page of two greys.
  settings().lvBkGrHathStyle = 4;
  settings().lvCurBkGrColor = 0xFFFFFF;
  settings().lvHatchColor = 0;
  settings().KodAntialias = 0;
  settings().PNG_Default = true;
  Magick::Image img = RenderPage(50, page, 0, RenderOptions{});
  const std::string again = platform::workFolder() + "again.png";
  img.write(again);
  for (const std::string &path : {platform::workFolder() + "~CurImg.png", again}) {
    const QByteArray png = fileBytes(path);
    ASSERT_GT(png.size(), 29) << path;
    EXPECT_EQ(uint8_t(png[25]), 2) << path << ": colour type RGB";
    EXPECT_EQ(uint8_t(png[24]), 8) << path << ": eight bits per sample";
  }

  settings().PNG_Default = false;
  settings().TIF_Default = true;
  img = RenderPage(50, page, 0, RenderOptions{});
  const std::string tif = platform::workFolder() + "again.tif";
  img.write(tif);
  for (const std::string &path : {platform::workFolder() + "~CurImg.tif", tif}) {
    Magick::Image back;
    back.ping(path);
    EXPECT_EQ(back.attribute("tiff:photometric"), "RGB") << path;
    EXPECT_EQ(back.depth(), 8u) << path;
  }
}

TEST_F(RenderPageTest, AbortStopsBetweenBands) {
  // A 600-row page at factor 3 has three bands; the abort set while band 1 is announced stops the render there.
  settings().KodAntialias = 3;
  const auto mf = rtest::blankPage(2540 * 4, 2540 * 6); // 400 x 600 pixels at 100 dpi
  struct AbortAfterFirst : RecordingProgress {
    std::atomic<bool> stop{false};
    void setPosition(int pos) override {
      RecordingProgress::setPosition(pos);
      if (pos == 1)
        stop = true;
    }
  } progress;
  RenderOptions o = noFile();
  o.progress = &progress;
  o.abort = &progress.stop;
  const Magick::Image img = RenderPage(100, mf, 0, o);
  EXPECT_EQ(img.columns(), 0u);
  EXPECT_EQ(progress.positions, (std::vector<int>{0, 1}));
  EXPECT_FALSE(render::lastRenderRecord().failure.empty());
  // without the request the same render draws every band
  progress.positions.clear();
  o.abort = nullptr;
  EXPECT_EQ(RenderPage(100, mf, 0, o).rows(), 600u);
  EXPECT_EQ(progress.positions.size(), 3u);
  EXPECT_TRUE(render::lastRenderRecord().failure.empty());
}

TEST_F(RenderPageTest, PageTooLargeForItsFormatIsRefusedBeforeDrawing) {
  // 2000 x 200000 pixels at 300 dpi: within the page limits, beyond what JPEG and GIF can hold.
  const auto mf = rtest::loadData("../emf/malformed/hostile-frame-limit.emf");
  ASSERT_TRUE(mf);
  std::vector<std::string> messages;
  render::setRenderMessageHook([&](const std::string &m) { messages.push_back(m); });
  settings().KodAntialias = 20;
  settings().JPG_Default = true;
  RenderOptions o; // a single image file in the default format
  const Magick::Image img = RenderPage(300, mf, 0, o);
  EXPECT_EQ(img.columns(), 0u);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("JPG"), std::string::npos) << messages[0];
  EXPECT_EQ(render::lastRenderRecord().failure, messages[0]);
  // the same page inside a PDF of PNG pages, or at a height JPEG can hold, is not refused for its format
  EXPECT_TRUE(render::EncoderRefusal(2000, 200000, 1, settings(), std::string("PNG")).empty());
  EXPECT_TRUE(render::EncoderRefusal(2000, 65500, 0, settings()).empty());
  EXPECT_FALSE(render::EncoderRefusal(65536, 10, 3, settings()).empty());
  render::setRenderMessageHook({});
}

// Pages for files in a true colour format skip the image library: they come as 8-bit pages and make the same files,
// byte for byte, as the image library's page with the same options; everything else still comes as its image.
TEST_F(RenderPageTest, PagesForWritingInTrueColourAreEightBitAndWriteTheSameFiles) {
  // Gradients and blended pictures: every channel differs from the others somewhere.
  const emf::HENHMETAFILE page = emf::GetEnhMetaFileA(FOLVEX_TEST_DATA "/fidelity/gen-16-alphablend-gradient.emf");
  ASSERT_TRUE(page);
  auto bytes = [](const render::RenderedPage &p, render::FormatCode code) {
    std::string out;
    EXPECT_EQ(render::EncodePage(p, code,
                                 [&out](const void *d, size_t n) {
                                   out.append(static_cast<const char *>(d), n);
                                   return true;
                                 }),
              "");
    return out;
  };
  struct Case {
    render::FormatCode code;
    std::function<void(Settings &)> set;
  };
  const Case cases[] = {
      {render::FormatJPG, [](Settings &s) { s.JPG_Quality = 75, s.JPG_Progress = 0; }},
      {render::FormatJPG, [](Settings &s) { s.JPG_Progress = 1; }},
      {render::FormatPNG, [](Settings &s) { s.PNG_Interlace = 1; }},
      {render::FormatPNG, [](Settings &s) { s.PNG_Interlace = 0; }},
      {render::FormatTIF, [](Settings &s) { s.TIF_Lzw = 1; }},
      {render::FormatTIF, [](Settings &s) { s.TIF_Lzw = 0; }},
      {render::FormatBMP, [](Settings &) {}},
  };
  for (const int factor : {0, 3}) {
    for (const Case &c : cases) {
      settings() = Settings{};
      settings().KodAntialias = factor;
      settings().JPG_Default = c.code == render::FormatJPG;
      settings().PNG_Default = c.code == render::FormatPNG;
      settings().TIF_Default = c.code == render::FormatTIF;
      c.set(settings());
      const render::RenderedPage fast = render::RenderPageForWriting(50, page, 0);
      ASSERT_TRUE(fast.isRgb()) << "format " << c.code;
      RenderOptions o;
      o.currentImageFile = false;
      const render::RenderedPage slow(RenderPage(50, page, 0, o));
      ASSERT_FALSE(slow.isRgb());
      EXPECT_EQ(bytes(fast, c.code), bytes(slow, c.code)) << "format " << c.code << ", factor " << factor;
    }
  }

  // The page images of a PDF, in the inside format and with its options.
  settings() = Settings{};
  settings().JPG_Quality = 60;
  for (const char *inside : {"JPG", "BMP", "TIF", "GIF"}) {
    RenderOptions pdf;
    pdf.outputMode = 1;
    pdf.pdfInsideFormat = inside;
    const render::RenderedPage fast = render::RenderPageForWriting(50, page, 0, pdf);
    const auto code = std::string(inside) == "JPG"   ? render::FormatJPG
                      : std::string(inside) == "TIF" ? render::FormatTIF
                                                     : render::FormatBMP;
    EXPECT_EQ(fast.isRgb(), std::string(inside) != "GIF") << inside;
    pdf.currentImageFile = false;
    EXPECT_EQ(bytes(fast, code), bytes(render::RenderedPage(RenderPage(50, page, 0, pdf)), code)) << inside;
  }

  settings() = Settings{}; // JPG
  settings().KodAntialias = 3;
  const render::RenderedPage upright = render::RenderPageForWriting(50, page, 0);
  ASSERT_TRUE(upright.isRgb());
  const render::RenderedPage turned = render::RenderPageForWriting(50, page, 90);
  EXPECT_FALSE(turned.isRgb());
  EXPECT_EQ(turned.columns(), upright.rows());
  EXPECT_EQ(turned.bitmap(), upright.bitmap().transformed(QTransform().rotate(90)));
  for (const auto &set : std::vector<std::function<void(Settings &)>>{
           [](Settings &s) { s.lvSharpen = 1; }, [](Settings &s) { s.JPG_Gray = 1; },
           [](Settings &s) { s.JPG_Default = false, s.GIF_Default = true; }}) {
    settings() = Settings{};
    set(settings());
    EXPECT_FALSE(render::RenderPageForWriting(50, page, 0).isRgb());
  }
  RenderOptions thumb;
  thumb.thumbnail = true;
  EXPECT_FALSE(render::RenderPageForWriting(50, page, 0, thumb).isRgb());
}
