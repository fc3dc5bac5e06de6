// Damaged, fuzzed and mislabelled files: each loads or is rejected with a reason, and plays without crashing.
#include "emf/metafile.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>

using namespace emf;

TEST(MalformedFiles, LoadOrRejectThenPlay) {
  const QDir dir(QStringLiteral(FOLVEX_TEST_DATA "/emf/malformed"));
  const QStringList files = dir.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(files.size(), 16) << "test data missing in " << dir.path().toStdString();
  int loaded = 0, rejected = 0;
  for (const QString &name : files) {
    if (name.endsWith(".md"))
      continue;
    SCOPED_TRACE(name.toStdString());
    std::string why;
    HENHMETAFILE mf = GetEnhMetaFileA(dir.filePath(name).toStdString(), &why);
    if (!mf) {
      EXPECT_FALSE(why.empty());
      ++rejected;
      continue;
    }
    ++loaded;
    // Play the page at a small size, whole and as the lower band of a larger page.
    QImage img(400, 300, QImage::Format_RGB32);
    img.fill(Qt::white);
    EXPECT_TRUE(PlayEnhMetaFile(img, mf, img.rect()));
    EXPECT_TRUE(PlayEnhMetaFile(img, mf, QRect(0, -300, 400, 600)));
  }
  // Files whose walk breaks are refused; the fuzzed files with sound record sizes load and play.
  EXPECT_GT(rejected, 0);
  EXPECT_GT(loaded, 0);
}

TEST(MalformedFiles, TruncatedCorpusFilesAreRejectedAtEveryCut) {
  // Every prefix of a real file that ends inside a record is refused, never read past its end.
  QFile f(QStringLiteral(FOLVEX_TEST_DATA "/emf/malformed/emf2svg-bad_corrupted_2014-12-14-080539.emf"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray all = f.readAll();
  const auto *p = reinterpret_cast<const uint8_t *>(all.constData());
  int accepted = 0;
  for (qsizetype n = 0; n < all.size(); n += 3) {
    HENHMETAFILE mf = SetEnhMetaFileBits(std::span<const uint8_t>(p, size_t(n)));
    if (mf) {
      ++accepted;
      QImage img(64, 64, QImage::Format_RGB32);
      PlayEnhMetaFile(img, mf, img.rect());
    }
  }
  // Only cuts that fall exactly on record boundaries can be accepted.
  EXPECT_LT(accepted, int(all.size() / 3 / 4));
}
