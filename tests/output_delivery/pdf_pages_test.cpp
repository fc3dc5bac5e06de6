// The export's PDF: one page per page image of the image's size, GIF pages of few colours kept, a page that
// cannot be loaded named and left out, a document that cannot be begun reported with the writer's reason.
#include "output/pdf_pages.h"

#include <Magick++.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString run(const QString &program, const QStringList &args, int *status = nullptr) {
  QProcess p;
  p.start(program, args);
  p.waitForFinished(30000);
  if (status)
    *status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

TEST(PdfPages, EveryLoadablePageInOrderAtItsImageSize) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  Magick::Image bmp(Magick::Geometry(144, 72), Magick::Color("red"));
  bmp.resolutionUnits(Magick::PixelsPerInchResolution);
  bmp.density(Magick::Geometry(144, 144));
  bmp.write(folder + "0001-0001.bmp");
  Magick::Image gif(Magick::Geometry(60, 40), Magick::Color("white"));
  gif.read("gradient:red-blue");
  gif.scale(Magick::Geometry("60x40!"));
  gif.quantizeColors(64);
  gif.quantize();
  gif.write(folder + "0001-0002.gif"); // fewer than 129 colours: codes narrower than 8 bits
  Magick::Image png(Magick::Geometry(30, 90), Magick::Color("blue"));
  png.write(folder + "0001-0003.png");

  const std::string pdf = folder + "Document.pdf";
  output::PdfPages doc;
  ASSERT_TRUE(doc.begin(pdf, folder)) << doc.error();
  EXPECT_TRUE(doc.addPage(folder + "0001-0001.bmp")) << doc.error();
  EXPECT_FALSE(doc.addPage(folder + "0001-0009.bmp"));
  EXPECT_NE(std::string::npos, doc.error().find("0001-0009.bmp")) << doc.error();
  EXPECT_EQ("\nERROR 05000157", doc.error().substr(doc.error().size() - 15));
  EXPECT_TRUE(doc.addPage("0001-0002.gif")) << doc.error(); // found in the search folder
  EXPECT_TRUE(doc.addPage(folder + "0001-0003.png")) << doc.error();
  ASSERT_TRUE(doc.finish()) << doc.error();
  EXPECT_EQ(3, doc.pageCount());

  int status = 0;
  const QString check = run("qpdf", {"--check", QString::fromStdString(pdf)}, &status);
  EXPECT_EQ(0, status) << check.toStdString();
  const QString info = run("pdfinfo", {"-f", "1", "-l", "9", QString::fromStdString(pdf)});
  EXPECT_TRUE(info.contains(QRegularExpression("Pages: +3\n"))) << info.toStdString();
  const double expected[3][2] = {{72, 36}, {60, 40}, {30, 90}};
  auto sizes = QRegularExpression("Page +(\\d) size: +([\\d.]+) x ([\\d.]+) pts").globalMatch(info);
  int page = 0;
  for (; sizes.hasNext() && page < 3; ++page) {
    const auto m = sizes.next();
    EXPECT_NEAR(expected[page][0], m.captured(2).toDouble(), 0.01) << "page " << page + 1;
    EXPECT_NEAR(expected[page][1], m.captured(3).toDouble(), 0.01) << "page " << page + 1;
  }
  EXPECT_EQ(3, page) << info.toStdString();
}

TEST(PdfPages, AFailedBeginEndsTheRunWithTheWritersReason) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  output::PdfPages doc;
  EXPECT_FALSE(doc.begin(folder + "no/such/folder/Document.pdf", folder));
  EXPECT_NE(std::string::npos, doc.error().find("Document.pdf")) << doc.error();
  EXPECT_EQ("\nError 000079", doc.error().substr(doc.error().size() - 13));
  EXPECT_FALSE(doc.addPage(folder + "x.bmp")) << "no writer is used after a failed begin";
}

} // namespace
