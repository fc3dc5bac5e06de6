// All page images of a mail run in one multipage TIFF or one animated GIF: one frame per page, in page order.
#include "output/multipage_image.h"

#include <Magick++.h>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <list>

namespace {

TEST(MultipageImage, EveryPageBecomesOneFrameInOrder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string folder = dir.path().toStdString() + "/";
  const char *colours[] = {"red", "lime", "blue"};
  for (auto format : {output::MultipageFormat::Tiff, output::MultipageFormat::Gif}) {
    const bool tiff = format == output::MultipageFormat::Tiff;
    SCOPED_TRACE(tiff ? "TIFF" : "GIF");
    std::vector<std::string> pages;
    for (int i = 0; i < 3; ++i) {
      Magick::Image page(Magick::Geometry(40 + 10 * i, 30), Magick::Color(colours[i]));
      pages.push_back(folder + "0001-000" + std::to_string(i + 1) + (tiff ? ".tif" : ".gif"));
      page.write(pages.back());
    }
    const std::string out = folder + (tiff ? "Document.tif" : "Document.gif");
    std::string error;
    ASSERT_TRUE(output::WriteMultipageImage(pages, out, format, 100, &error)) << error;
    std::list<Magick::Image> frames;
    Magick::readImages(&frames, out);
    ASSERT_EQ(3u, frames.size());
    int i = 0;
    for (Magick::Image &frame : frames) {
      EXPECT_EQ(std::string(tiff ? "TIFF" : "GIF"), frame.magick());
      EXPECT_EQ(40u + 10 * i, frame.columns());
      EXPECT_EQ(Magick::Color(colours[i]), frame.pixelColor(5, 5)) << "page " << i + 1;
      if (!tiff) {
        EXPECT_EQ(100u, frame.animationDelay());
      }
      ++i;
    }
    // A page that cannot be read: named in the message, and nothing is left under the name.
    pages.insert(pages.begin() + 1, folder + "missing.tif");
    EXPECT_FALSE(output::WriteMultipageImage(pages, folder + "broken.tif", format, 100, &error));
    EXPECT_NE(std::string::npos, error.find("missing.tif")) << error;
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "broken.tif")));
  }
}

} // namespace
