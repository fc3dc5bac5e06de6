// Print job documents as PDF pages: what decides a document's kind, pictures at their own resolution, PostScript
// and text through their converters, and documents that cannot be converted.
#include "capture/image_pdf.h"
#include "capture/job_documents.h"
#include "capture_support.h"
#include "render/rasteriser.h"
#include "settings/settings.h"

#include <Magick++.h>
#include <QStandardPaths>

using namespace capture;
using namespace capture_test;

namespace {

class Documents : public CaptureEnv {
protected:
  void SetUp() override {
    CaptureEnv::SetUp();
    options_.workFolder = root();
  }
  QString file(const char *name) const { return root() + "/" + name; }
  // A picture of w x h pixels: a red square on white, with a transparent left half when transparent is set.
  QString picture(const char *name, const char *magick, size_t w, size_t h, double dpi, bool perCm = false,
                  bool transparent = false) {
    Magick::Image img(Magick::Geometry(w, h), Magick::Color("white"));
    img.fillColor("red");
    img.draw(Magick::DrawableRectangle(double(w) / 4, double(h) / 4, double(w) * 3 / 4, double(h) * 3 / 4));
    if (transparent) {
      img.matte(true);
      for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w / 2; ++x)
          img.pixelColor(x, y, Magick::Color(0, 0, 0, QuantumRange));
    }
    if (dpi > 0) {
      img.resolutionUnits(perCm ? Magick::PixelsPerCentimeterResolution : Magick::PixelsPerInchResolution);
      img.density(Magick::Geometry(size_t(dpi), size_t(dpi)));
    }
    const QString path = file(name);
    img.write(std::string(magick) + ":" + path.toStdString());
    return path;
  }
  ConvertOptions options_;
};

} // namespace

TEST(DocumentKind, FirstBytesDecideWhereTheyTell) {
  EXPECT_EQ(KindOfDocument("%PDF-1.7\n", "text/plain"), DocumentKind::Pdf);
  EXPECT_EQ(KindOfDocument("\r\n  junk %PDF-1.4", "application/octet-stream"), DocumentKind::Pdf);
  EXPECT_EQ(KindOfDocument("%!PS-Adobe-3.0", "application/pdf"), DocumentKind::PostScript);
  EXPECT_EQ(KindOfDocument(QByteArray("\xC5\xD0\xD3\xC6\x20\0\0\0", 8), ""), DocumentKind::PostScript);
  EXPECT_EQ(KindOfDocument("\x89PNG\r\n\x1a\nIHDR", "image/jpeg"), DocumentKind::Png);
  EXPECT_EQ(KindOfDocument("\xFF\xD8\xFF\xE0", ""), DocumentKind::Jpeg);
  EXPECT_EQ(KindOfDocument(QByteArray("II*\0\x08\0", 6), ""), DocumentKind::Tiff);
  EXPECT_EQ(KindOfDocument(QByteArray("MM\0*\0\0", 6), ""), DocumentKind::Tiff);
  EXPECT_EQ(KindOfDocument("GIF89a", ""), DocumentKind::Gif);
  // An image type stated for other bytes does not send them to an image decoder.
  EXPECT_EQ(KindOfDocument("<svg xmlns=...", "image/png"), DocumentKind::Other);
  EXPECT_EQ(KindOfDocument("Hello", "text/plain"), DocumentKind::Other);
  EXPECT_EQ(KindOfDocument("not really", "application/pdf"), DocumentKind::Pdf);
}

TEST(ImageResolution, PerInchPerCentimetreOrSeventyTwo) {
  EXPECT_DOUBLE_EQ(ImageResolution(1, 300), 300);
  EXPECT_DOUBLE_EQ(ImageResolution(2, 100), 254);
  EXPECT_DOUBLE_EQ(ImageResolution(0, 300), 72) << "no unit: only an aspect ratio";
  EXPECT_DOUBLE_EQ(ImageResolution(1, 0), 72);
  EXPECT_DOUBLE_EQ(ImageResolution(1, 1e9), 72);
}

TEST_F(Documents, PicturesAreOnePageEachAtTheirOwnResolution) {
  struct Case {
    const char *name, *magick;
    size_t w, h;
    double dpi;
    bool perCm;
    QSizeF points;
  };
  const Case cases[] = {
      {"a.png", "png", 600, 300, 300, false, {144, 72}},  // 2 x 1 inch
      {"b.png", "png", 144, 72, 0, false, {144, 72}},     // none recorded: 72 dpi
      {"c.jpg", "jpeg", 400, 200, 200, false, {144, 72}}, // JFIF density
      {"d.gif", "gif", 100, 50, 0, false, {100, 50}},     // GIF records none
      {"e.tif", "tiff", 254, 127, 100, true, {72, 36}},   // 100 pixels per cm
  };
  for (const Case &c : cases) {
    const ConvertedDocument doc = DocumentPages(picture(c.name, c.magick, c.w, c.h, c.dpi, c.perCm), "", options_);
    ASSERT_EQ(doc.pages.size(), 1u) << c.name << ": " << doc.error;
    EXPECT_NEAR(doc.pages[0]->sizePoints().width(), c.points.width(), 0.01) << c.name;
    EXPECT_NEAR(doc.pages[0]->sizePoints().height(), c.points.height(), 0.01) << c.name;
  }
  // The picture itself: rendered at its own resolution it gives its own pixels back.
  settings() = Settings{};
  settings().KodAntialias = 0;
  settings().JPG_Default = false;
  render::RenderOptions o;
  o.outputMode = 2;
  const ConvertedDocument png = DocumentPages(file("a.png"), "image/png", options_);
  ASSERT_EQ(png.pages.size(), 1u);
  Magick::Image img = render::RenderPage(300, png.pages[0], 0, o);
  ASSERT_EQ(img.columns(), 600u);
  EXPECT_EQ(Magick::ColorRGB(img.pixelColor(300, 150)).red(), 1.0);
  EXPECT_EQ(Magick::ColorRGB(img.pixelColor(300, 150)).green(), 0.0);
  EXPECT_EQ(Magick::ColorRGB(img.pixelColor(10, 10)).green(), 1.0);
  settings() = Settings{};
}

TEST_F(Documents, TransparentPartsOfAPictureShowTheBackground) {
  const ConvertedDocument doc = DocumentPages(picture("t.png", "png", 200, 100, 72, false, true), "", options_);
  ASSERT_EQ(doc.pages.size(), 1u) << doc.error;
  settings() = Settings{};
  settings().KodAntialias = 0;
  settings().JPG_Default = false;
  settings().lvBkGrHathStyle = 99;
  settings().lvCurBkGrColor = 0x80FF80; // 0x00BBGGRR
  render::RenderOptions o;
  o.outputMode = 2;
  Magick::Image img = render::RenderPage(72, doc.pages[0], 0, o);
  settings() = Settings{};
  const Magick::ColorRGB left = img.pixelColor(20, 50), right = img.pixelColor(180, 50);
  EXPECT_NEAR(left.red(), 128 / 255.0, 0.01) << "the transparent half shows the background";
  EXPECT_NEAR(left.green(), 1.0, 0.01);
  EXPECT_NEAR(right.red(), 1.0, 0.01) << "the opaque half keeps its white";
  EXPECT_NEAR(right.blue(), 1.0, 0.01);
}

TEST_F(Documents, EveryFrameOfATiffIsAPage) {
  std::vector<Magick::Image> frames;
  frames.emplace_back(Magick::Geometry(72, 144), Magick::Color("blue"));
  frames.emplace_back(Magick::Geometry(144, 72), Magick::Color("green"));
  Magick::writeImages(frames.begin(), frames.end(), "tiff:" + file("two.tif").toStdString());
  const ConvertedDocument doc = DocumentPages(file("two.tif"), "image/tiff", options_);
  ASSERT_EQ(doc.pages.size(), 2u) << doc.error;
  EXPECT_EQ(doc.pages[0]->sizePoints(), QSizeF(72, 144));
  EXPECT_EQ(doc.pages[1]->sizePoints(), QSizeF(144, 72));
}

TEST_F(Documents, PostScriptGoesThroughGhostscript) {
  if (QStandardPaths::findExecutable("gs").isEmpty())
    GTEST_SKIP() << "Ghostscript (gs) is not installed";
  const ConvertedDocument doc =
      DocumentPages(QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.ps"), "application/postscript", options_);
  ASSERT_EQ(doc.pages.size(), 2u) << doc.error;
  EXPECT_EQ(doc.pages[0]->sizePoints(), QSizeF(595, 842));
  EXPECT_EQ(doc.pages[1]->sizePoints(), QSizeF(792, 612)) << "a landscape page stays landscape";
  // A PostScript program that never ends is stopped.
  QFile loop(file("loop.ps"));
  ASSERT_TRUE(loop.open(QIODevice::WriteOnly));
  loop.write("%!PS\n{ } loop\n");
  loop.close();
  options_.timeoutMs = 1500;
  const ConvertedDocument endless = DocumentPages(file("loop.ps"), "application/postscript", options_);
  EXPECT_TRUE(endless.pages.empty());
  EXPECT_NE(endless.error.find("longer than"), std::string::npos) << endless.error;
  EXPECT_TRUE(QDir(root()).entryList({"conv-*"}).isEmpty()) << "the converter's file is removed";
}

TEST_F(Documents, TextThroughCupsfilterAndWhatCannotBeConverted) {
  QFile text(file("note.txt"));
  ASSERT_TRUE(text.open(QIODevice::WriteOnly));
  text.write("First page\n\fSecond page\n");
  text.close();
  const ConvertedDocument doc = DocumentPages(file("note.txt"), "text/plain", options_);
  if (doc.pages.empty() && doc.error.find("not installed") != std::string::npos)
    GTEST_SKIP() << doc.error;
  EXPECT_EQ(doc.pages.size(), 2u) << doc.error;

  // Printer data of no known kind, and a damaged PDF: nothing, and a reason.
  QFile raw(file("job.prn"));
  ASSERT_TRUE(raw.open(QIODevice::WriteOnly));
  raw.write("\x1b%-12345X@PJL ENTER LANGUAGE=PCL\r\n\x1b"
            "E garbage");
  raw.close();
  const ConvertedDocument none = DocumentPages(file("job.prn"), "application/vnd.cups-raw", options_);
  EXPECT_TRUE(none.pages.empty());
  EXPECT_NE(none.error.find("application/vnd.cups-raw"), std::string::npos) << none.error;
  QFile bad(file("bad.pdf"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << >>\n");
  bad.close();
  const ConvertedDocument broken = DocumentPages(file("bad.pdf"), "application/pdf", options_);
  EXPECT_TRUE(broken.pages.empty());
  EXPECT_FALSE(broken.error.empty());
}

TEST(MediaKeywords, TheSizeComesFromTheNameAlone) {
  EXPECT_EQ(MediaSizePoints("iso_a4_210x297mm")->toSize(), QSize(595, 842));
  EXPECT_EQ(MediaSizePoints("na_letter_8.5x11in"), QSizeF(612, 792));
  for (const char *none : {"", "A4", "iso_a4_x297mm", "custom_big_9999x1in", "na_letter_8.5x11ft"})
    EXPECT_FALSE(MediaSizePoints(none)) << none;
}
