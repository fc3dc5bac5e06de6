// PDF pages through the rasteriser: bands against one whole-page render, against pdftoppm, over a background,
// and wider than a slice.
#include "platform/paths.h"
#include "render/pdf_page.h"
#include "render/rasteriser.h"
#include "settings/settings.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using render::HPDFPAGE;
using render::RenderOptions;
using render::RenderPage;

namespace {

std::vector<HPDFPAGE> loadPdf(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return render::PdfPage::LoadDocument(f.readAll());
}

std::vector<HPDFPAGE> testJob() { return loadPdf(QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf")); }

struct Difference {
  int pixels = 0;  // pixels whose colour differs at all
  int largest = 0; // largest difference of one channel
};

Difference compare(const QImage &a, const QImage &b) {
  Difference d;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      const int dr = std::abs(qRed(p) - qRed(q)), dg = std::abs(qGreen(p) - qGreen(q)),
                db = std::abs(qBlue(p) - qBlue(q));
      d.pixels += (dr | dg | db) != 0;
      d.largest = std::max({d.largest, dr, dg, db});
    }
  return d;
}

class PdfRender : public ::testing::Test {
protected:
  void SetUp() override {
    settings() = Settings{};
    settings().JPG_Default = false; // BMP: no format options that change pixels
    pages_ = testJob();
    ASSERT_EQ(pages_.size(), 2u);
  }
  void TearDown() override { settings() = Settings{}; }
  static RenderOptions noFile() {
    RenderOptions o;
    o.outputMode = 2;
    return o;
  }
  std::vector<HPDFPAGE> pages_;
};

} // namespace

TEST_F(PdfRender, PagesHaveTheirSizesAndMillimetres) {
  EXPECT_EQ(pages_[0]->sizePoints(), QSizeF(595, 842));
  EXPECT_EQ(pages_[1]->sizePoints(), QSizeF(792, 612));
  settings().KodAntialias = 0;
  Magick::Image img = RenderPage(150, pages_[0], 0, noFile());
  // ceil(595 / 72 x 150) x ceil(842 / 72 x 150), as pdftoppm sizes it too.
  EXPECT_EQ(img.columns(), 1240u);
  EXPECT_EQ(img.rows(), 1755u);
  EXPECT_EQ(render::lastRenderRecord().widthMm, 210);
  EXPECT_EQ(render::lastRenderRecord().heightMm, 297) << "842 points are 297.04 mm: A4, not 298 mm";
  settings().ScaleCur = 50;
  img = RenderPage(100, pages_[1], 0, noFile());
  EXPECT_EQ(img.columns(), 550u);
  EXPECT_EQ(img.rows(), 425u);
  EXPECT_EQ(render::lastRenderRecord().widthMm, 279);
  EXPECT_EQ(render::lastRenderRecord().heightMm, 216);
}

TEST_F(PdfRender, BandsEqualAWholePageRenderAtFactors1And3) {
  // Factor 1 at 150 dpi: 1755 rows in 9 bands; factor 3 at 100 dpi: 3510 supersampled rows in 6 bands.
  for (int f : {0, 3}) {
    settings().KodAntialias = f;
    const int S = f == 0 ? 1 : f;
    const double dpi = f == 0 ? 150 : 100;
    for (const HPDFPAGE &page : pages_) {
      const QImage got = rtest::toQImage(RenderPage(dpi, page, 0, noFile()));
      ASSERT_GT(got.height() * S, render::PlanBands(got.height(), f, false).B * 4);
      const QImage whole = page->renderRegion(dpi * S, QRect(0, 0, got.width() * S, got.height() * S), false);
      ASSERT_FALSE(whole.isNull());
      const QImage expected = S == 1 ? whole : rtest::averageWhole(whole, S);
      EXPECT_EQ(compare(got, expected).pixels, 0) << "factor " << f << ", page " << page->index() + 1;
    }
  }
}

TEST_F(PdfRender, MatchesPdftoppmAt150Dpi) {
  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  if (pdftoppm.isEmpty())
    GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  settings().KodAntialias = 0;
  for (const HPDFPAGE &page : pages_) {
    const QString n = QString::number(page->index() + 1);
    QProcess p;
    p.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-f"), n, QStringLiteral("-l"), n,
                       QStringLiteral("-png"), QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf"),
                       dir.filePath(QStringLiteral("p"))});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QStringList made = QDir(dir.path()).entryList({QStringLiteral("p-*") + n + QStringLiteral(".png")});
    ASSERT_EQ(made.size(), 1);
    const QImage reference(dir.filePath(made[0]));
    const QImage got = rtest::toQImage(RenderPage(150, page, 0, noFile()));
    ASSERT_EQ(got.size(), reference.size());
    // Measured on Debian 12 (poppler 22.12): both come out of the same renderer with the same settings and are
    // equal; the tolerance allows a few pixels of a differently rounded edge, no more.
    // Measured on Debian 12 (poppler 22.12) with this page and with 20 pages of text and 5 of dense vector
    // drawing: equal pixel for pixel, except in the last column and row when the page ends inside them (595
    // points at 150 dpi are 1239.6 pixels): there pdftoppm paints what runs off the page over the whole pixel,
    // while the rasteriser blends the covered part with the paper (up to 88 apart per channel). So: equal inside.
    const QRect inside(0, 0, got.width() - 1, got.height() - 1);
    const Difference d = compare(got.copy(inside), reference.copy(inside));
    EXPECT_EQ(d.pixels, 0) << "page " << n.toStdString() << ", largest difference " << d.largest;
  }
}

TEST_F(PdfRender, TheBackgroundShowsWhereThePageDrawsNothing) {
  settings().KodAntialias = 3;
  settings().lvBkGrHathStyle = 99; // a solid colour
  settings().lvCurBkGrColor = 0x80FF80;
  const QImage q = rtest::toQImage(RenderPage(50, pages_[0], 0, noFile()));
  EXPECT_EQ(q.pixel(5, 5) & 0xFFFFFF, 0x80FF80u);
  // The red rectangle from (380, 80) to (530, 180) points is drawn over it.
  const QRgb red = q.pixel(int(450 / 72.0 * 50), q.height() - int(130 / 72.0 * 50));
  EXPECT_GT(qRed(red), 180);
  EXPECT_LT(qGreen(red), 60);
  // The stamp is drawn over the page as on a metafile page.
  settings().lvIncludeDateTime = 1;
  const QImage stamped = rtest::toQImage(RenderPage(50, pages_[0], 0, noFile()));
  EXPECT_GT(compare(q, stamped).pixels, 20);
}

TEST_F(PdfRender, BandsWiderThanASliceAreDrawnInTiles) {
  // A 2000 x 40 point page at 72 dpi and factor 20: each 400-row band is 40,000 pixels wide, more than a slice
  // holds, so it is drawn in two tiles side by side. The page holds 200 small coloured rectangles.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString pdfPath = dir.filePath(QStringLiteral("wide.pdf"));
  {
    QFile f(pdfPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray content = "q 1 0 0 1 0 0 cm ";
    for (int i = 0; i < 200; ++i)
      content += QByteArray::number((i * 37) % 100 / 100.0) + " 0.2 0.7 rg " + QByteArray::number(i * 10) + " " +
                 QByteArray::number(i % 30) + " 7 9 re f ";
    content += "Q";
    QByteArray pdf = "%PDF-1.4\n";
    std::vector<qsizetype> at;
    auto obj = [&](const QByteArray &body) {
      at.push_back(pdf.size());
      pdf += QByteArray::number(qsizetype(at.size())) + " 0 obj\n" + body + "\nendobj\n";
    };
    obj("<< /Type /Catalog /Pages 2 0 R >>");
    obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    obj("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 2000 40] /Contents 4 0 R >>");
    obj("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (qsizetype o : at)
      pdf += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    ASSERT_EQ(f.write(pdf), pdf.size());
  }
  const std::vector<HPDFPAGE> wide = loadPdf(pdfPath);
  ASSERT_EQ(wide.size(), 1u);
  settings().KodAntialias = 20;
  ASSERT_GT(2000LL * 20 * render::PlanBands(40, 20, false).B, render::kPdfSlicePixels);
  const QImage got = rtest::toQImage(RenderPage(72, wide[0], 0, noFile()));
  ASSERT_EQ(got.size(), QSize(2000, 40));
  const QImage expected = rtest::averageWhole(wide[0]->renderRegion(72 * 20, QRect(0, 0, 40000, 800), false), 20);
  EXPECT_EQ(compare(got, expected).pixels, 0);
}
