// The spool file page extractor: the reader, the record walk, page file names, both spool file forms, the start-up
// clean-up, and every real spool and damaged file of the corpus.
#include "capture/spool_extractor.h"
#include "capture/spool_writer.h"
#include "capture_support.h"
#include "emf/metafile.h"
#include "platform/paths.h"

#include <QDirIterator>

using namespace capture;
using namespace capture_test;

namespace {

class Extractor : public CaptureEnv {
protected:
  QString work() const { return QString::fromStdString(platform::workFolder()); }
  QString spool(const std::vector<uint8_t> &bytes, const QString &name = "job.SPL") {
    const QString p = root() + "/" + name;
    EXPECT_TRUE(WriteBytes(p, bytes));
    return p;
  }
  QStringList pageFiles() const { return QDir(work()).entryList({"*.emf"}, QDir::Files, QDir::Name); }
  int extract(const QString &path, int job) { return ExtractSpoolPages(path.toStdString(), job); }
};

std::vector<std::vector<uint8_t>> Pages(int n, uint32_t firstTag = 1) {
  std::vector<std::vector<uint8_t>> pages;
  for (int i = 0; i < n; ++i)
    pages.push_back(MakeEmf(210, 297, firstTag + uint32_t(i)));
  return pages;
}

} // namespace

TEST(SpoolReaderTest, ReadsSkipsAndEndsLikeAFile) {
  QTemporaryDir dir;
  std::vector<uint8_t> bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = uint8_t(i * 7);
  const QString p = dir.path() + "/f";
  ASSERT_TRUE(WriteBytes(p, bytes));

  SpoolReader r;
  EXPECT_FALSE(r.open((dir.path() + "/missing").toStdString()));
  ASSERT_TRUE(r.open(p.toStdString()));
  uint8_t buf[16];
  ASSERT_EQ(r.read(buf, 10), 10u);
  EXPECT_EQ(buf[9], uint8_t(9 * 7));
  // A skip within the buffer, then one that leaves it: the next bytes are the right ones either way.
  EXPECT_EQ(r.skip(100), 100u);
  ASSERT_EQ(r.read(buf, 1), 1u);
  EXPECT_EQ(buf[0], uint8_t(110 * 7));
  EXPECT_EQ(r.skip(3000), 3000u);
  EXPECT_EQ(r.position(), 3111u);
  ASSERT_EQ(r.read(buf, 4), 4u);
  EXPECT_EQ(buf[0], uint8_t(3111 * 7));
  EXPECT_EQ(r.bytesLeft(), 5000u - 3115u);
  // A read across the end delivers what is left and sets the end flag.
  std::vector<uint8_t> rest(4000);
  EXPECT_EQ(r.read(rest.data(), rest.size()), 5000u - 3115u);
  EXPECT_TRUE(r.atEnd());
  // Rewind clears it.
  r.rewind();
  EXPECT_FALSE(r.atEnd());
  ASSERT_EQ(r.read(buf, 2), 2u);
  EXPECT_EQ(buf[1], 7);
  // A skip past the end costs nothing; the next read finds the end.
  r.skip(1u << 30);
  EXPECT_EQ(r.read(buf, 1), 0u);
  EXPECT_TRUE(r.atEnd());
  EXPECT_EQ(r.bytesLeft(), 0u);
}

TEST(PageNames, ZeroFillByPageNumberSize) {
  EXPECT_EQ(PageFileName(1), "0001.emf");
  EXPECT_EQ(PageFileName(9), "0009.emf");
  EXPECT_EQ(PageFileName(10), "0010.emf");
  EXPECT_EQ(PageFileName(99), "0099.emf");
  EXPECT_EQ(PageFileName(100), "0100.emf");
  EXPECT_EQ(PageFileName(999), "0999.emf");
  EXPECT_EQ(PageFileName(1000), "1000.emf");
  EXPECT_EQ(PageFileName(10000), "10000.emf");
}

TEST_F(Extractor, HeaderOnlyOrHeaderAndEndRecordGiveNoPageButSuccess) {
  auto withEnd = SpoolHeader(24);
  AppendRecord(withEnd, kRecordEnd, {});
  EXPECT_EQ(extract(spool(withEnd), 1), 1);
  EXPECT_EQ(extract(spool(SpoolHeader(24)), 1), 1);
  // A header whose size says more than the file holds: the file ends inside the header.
  EXPECT_EQ(extract(spool(SpoolHeader(8)), 1), 1);
  auto shortHeader = SpoolHeader(8);
  shortHeader[4] = 200; // claims 200 bytes, file has 8
  EXPECT_EQ(extract(spool(shortHeader), 1), 1);
  EXPECT_TRUE(pageFiles().isEmpty());
}

TEST_F(Extractor, NotASpoolFileIsRejected) {
  auto bad = SpoolHeader(16, 0x00020000);
  AppendRecord(bad, kRecordPage, MakeEmf());
  EXPECT_EQ(extract(spool(bad), 1), 0);
  EXPECT_EQ(extract(spool({}), 1), 0);
  EXPECT_EQ(extract(spool({0x00, 0x00, 0x01}), 1), 0);
  EXPECT_EQ(extract(root() + "/does-not-exist.SPL", 1), 0);
  EXPECT_EQ(ExtractSpoolPages(root().toStdString(), 1), 0); // a folder
  EXPECT_TRUE(pageFiles().isEmpty());
}

TEST_F(Extractor, HeaderSizeOutsideEightTo64KiBIsRejected) {
  for (uint32_t size : {0u, 4u, 7u, 65537u, 0xFFFFFFFFu}) {
    auto b = SpoolHeader(16);
    b[4] = uint8_t(size);
    b[5] = uint8_t(size >> 8);
    b[6] = uint8_t(size >> 16);
    b[7] = uint8_t(size >> 24);
    AppendRecord(b, kRecordPage, MakeEmf());
    EXPECT_EQ(extract(spool(b), 1), 0) << "header size " << size;
  }
  EXPECT_TRUE(pageFiles().isEmpty());
  // The largest accepted header, and the smallest.
  for (uint32_t size : {65536u, 8u}) {
    auto b = SpoolHeader(size);
    AppendRecord(b, kRecordPage, MakeEmf(210, 297, size));
    EXPECT_EQ(extract(spool(b), 7), 1);
    EXPECT_EQ(TagOf(work() + "7-0001.emf"), size);
  }
}

TEST_F(Extractor, TwelvePagesOfJobOneAreNamedInOrder) {
  const QString p = root() + "/twelve.SPL";
  ASSERT_TRUE(WriteSpoolJob(p.toStdString(), Pages(12, 101), "twelve", false));
  ASSERT_TRUE(QDir(work()).removeRecursively()); // the work folder is made on demand
  EXPECT_EQ(extract(p, 1), 1);
  QStringList expected;
  for (int i = 1; i <= 12; ++i)
    expected << QString("1-%1.emf").arg(i, 4, 10, QLatin1Char('0'));
  EXPECT_EQ(pageFiles(), expected);
  for (int i = 1; i <= 12; ++i)
    EXPECT_EQ(TagOf(work() + expected[i - 1]), 100 + i) << "page " << i;
}

TEST_F(Extractor, PageOneThousandOfJobFour) {
  const QString p = root() + "/thousand.SPL";
  ASSERT_TRUE(WriteSpoolJob(p.toStdString(), Pages(1000), "many", false));
  EXPECT_EQ(extract(p, 4), 1);
  EXPECT_EQ(pageFiles().size(), 1000);
  EXPECT_EQ(TagOf(work() + "4-1000.emf"), 1000);
  EXPECT_EQ(TagOf(work() + "4-0999.emf"), 999);
  EXPECT_FALSE(QFileInfo::exists(work() + "4-01000.emf"));
}

TEST_F(Extractor, OtherRecordsAreSteppedOverBySizeWhateverTheyHold) {
  auto b = SpoolHeader(32);
  // A record whose payload looks like a page record must not be taken for one.
  std::vector<uint8_t> fake;
  AppendRecord(fake, kRecordPage, MakeEmf(210, 297, 666));
  AppendRecord(b, 3, fake);
  AppendRecord(b, kRecordPage, MakeEmf(210, 297, 1));
  AppendRecord(b, 0x0D, std::vector<uint8_t>(8, 0));
  // Large, odd-sized and highest trusted types.
  AppendRecord(b, 0x22, std::vector<uint8_t>(70001, 0x0C));
  AppendRecord(b, 0xFFFE, std::vector<uint8_t>(3, 0));
  AppendRecord(b, kRecordPage, MakeEmf(210, 297, 2));
  AppendRecord(b, kRecordEnd, {});
  AppendRecord(b, kRecordPage, MakeEmf(210, 297, 3)); // after the end record: not read
  EXPECT_EQ(extract(spool(b), 2), 1);
  EXPECT_EQ(pageFiles(), QStringList({"2-0001.emf", "2-0002.emf"}));
  EXPECT_EQ(TagOf(work() + "2-0001.emf"), 1);
  EXPECT_EQ(TagOf(work() + "2-0002.emf"), 2);
}

TEST_F(Extractor, TypesFrom0xFFFFAdvanceOnlyEightBytes) {
  auto b = SpoolHeader(16);
  // The size field of these heads is not used: the next record head follows 8 bytes later.
  put32(b, 0xFFFF);
  put32(b, 0x7FFFFFFF);
  put32(b, 0xFFFFFFFF);
  put32(b, 12);
  AppendRecord(b, kRecordPage, MakeEmf(210, 297, 42));
  EXPECT_EQ(extract(spool(b), 3), 1);
  EXPECT_EQ(pageFiles(), QStringList({"3-0001.emf"}));
  EXPECT_EQ(TagOf(work() + "3-0001.emf"), 42);
}

TEST_F(Extractor, APageThatIsNotAMetafileLeavesAGapInTheNumbering) {
  auto b = SpoolHeader(16);
  AppendRecord(b, kRecordPage, std::vector<uint8_t>(200, 0x55));
  AppendRecord(b, kRecordPage, {});
  AppendRecord(b, kRecordPage, MakeEmf(210, 297, 3));
  EXPECT_EQ(extract(spool(b), 5), 1);
  EXPECT_EQ(pageFiles(), QStringList({"5-0003.emf"}));
}

TEST_F(Extractor, APageCutShortEndsTheWalk) {
  // Cut inside the metafile's records: not a metafile any more, so no page; the walk still ends with 1.
  auto cut = SpoolHeader(16);
  AppendRecord(cut, kRecordPage, MakeEmf(210, 297, 1));
  auto page2 = MakeEmf(210, 297, 2);
  put32(cut, kRecordPage);
  put32(cut, uint32_t(page2.size()));
  cut.insert(cut.end(), page2.begin(), page2.begin() + 50);
  EXPECT_EQ(extract(spool(cut), 1), 1);
  EXPECT_EQ(pageFiles(), QStringList({"1-0001.emf"}));

  // Cut right after a whole record of the metafile: the bytes still make one, so the page is kept.
  auto atRecord = SpoolHeader(16);
  auto page = MakeEmf(210, 297, 9);
  put32(atRecord, kRecordPage);
  put32(atRecord, uint32_t(page.size()) + 4096);
  atRecord.insert(atRecord.end(), page.begin(), page.end());
  EXPECT_EQ(extract(spool(atRecord), 2), 1);
  EXPECT_EQ(TagOf(work() + "2-0001.emf"), 9);

  // A size field near 4 GiB in a small file: only what the file holds is taken.
  auto huge = SpoolHeader(16);
  put32(huge, kRecordPage);
  put32(huge, 0xFFFFFFF0u);
  huge.insert(huge.end(), page.begin(), page.end());
  EXPECT_EQ(extract(spool(huge), 3), 1);
  EXPECT_EQ(TagOf(work() + "3-0001.emf"), 9);

  // A record head cut short.
  auto head = SpoolHeader(16);
  AppendRecord(head, kRecordPage, MakeEmf(210, 297, 4));
  head.insert(head.end(), {0x0C, 0, 0, 0, 0x10});
  EXPECT_EQ(extract(spool(head), 4), 1);
  EXPECT_EQ(TagOf(work() + "4-0001.emf"), 4);
}

TEST_F(Extractor, RunningAJobNumberAgainReplacesItsPageFiles) {
  const QString first = root() + "/a.SPL", second = root() + "/b.SPL";
  ASSERT_TRUE(WriteSpoolJob(first.toStdString(), Pages(2, 10), "a", false));
  ASSERT_TRUE(WriteSpoolJob(second.toStdString(), Pages(1, 20), "b", false));
  EXPECT_EQ(extract(first, 6), 1);
  EXPECT_EQ(TagOf(work() + "6-0001.emf"), 10);
  EXPECT_EQ(extract(second, 6), 1);
  EXPECT_EQ(TagOf(work() + "6-0001.emf"), 20);
  EXPECT_EQ(TagOf(work() + "6-0002.emf"), 11); // not written by the second run
}

TEST_F(Extractor, SpoolMakerOutputRoundTrips) {
  const QString p = root() + "/made.SPL";
  std::string error;
  ASSERT_TRUE(WriteSpoolJob(p.toStdString(), Pages(3, 7), "Résumé draft", true, &error)) << error;
  // The shadow file appears beside it, big enough for the watcher.
  EXPECT_GE(QFileInfo(root() + "/made.SHD").size(), 2);
  const QByteArray bytes = ReadAll(p);
  std::vector<uint8_t> b(bytes.begin(), bytes.end());
  ASSERT_GE(b.size(), 16u);
  EXPECT_EQ(get32(b, 0), kSpoolVersion);
  EXPECT_EQ(get32(b, 4) % 4, 0u);
  EXPECT_EQ(extract(p, 1), 1);
  EXPECT_EQ(pageFiles(), QStringList({"1-0001.emf", "1-0002.emf", "1-0003.emf"}));
  EXPECT_EQ(TagOf(work() + "1-0003.emf"), 9);
}

TEST_F(Extractor, NextFreeJobNameSkipsTakenNames) {
  const std::string dir = root().toStdString();
  EXPECT_EQ(NextFreeJobName(dir), "00001");
  ASSERT_TRUE(WriteBytes(root() + "/00001.SPL", {1}));
  ASSERT_TRUE(WriteBytes(root() + "/00002.SHD", {1}));
  EXPECT_EQ(NextFreeJobName(dir), "00003");
}

// ---- the Windows 9x form ----

class LegacyExtractor : public Extractor {
protected:
  void tempPage(const char *suffix, uint32_t tag) {
    ASSERT_TRUE(WriteBytes(QString::fromStdString(platform::tempFolder()) + "~EMF" + suffix, MakeEmf(210, 297, tag)));
  }
  void run(const std::string &content, int job) {
    const QString p = root() + "/legacy.SPL";
    ASSERT_TRUE(WriteBytes(p, std::vector<uint8_t>(content.begin(), content.end())));
    ExtractLegacySpoolPages(p.toStdString(), job);
  }
};

TEST_F(LegacyExtractor, FindsEveryNameAndCopiesThePages) {
  tempPage("0001.TMP", 1);
  tempPage("0002.TMP", 2);
  const std::string content =
      std::string("\x01\x02header ~EMF0001.TMP") + std::string("\0\0", 2) + " more ~EMF0002.TMP";
  run(content, 3);
  EXPECT_EQ(pageFiles(), QStringList({"3-0001.emf", "3-0002.emf"}));
  EXPECT_EQ(TagOf(work() + "3-0002.emf"), 2);
  // The spool file's copy stays in the work folder until the next start.
  EXPECT_TRUE(QFileInfo::exists(work() + "tmp.spl"));
  EXPECT_EQ(ReadAll(work() + "tmp.spl").size(), qsizetype(content.size()));
}

TEST_F(LegacyExtractor, TildeWithOtherCharactersIsPassedOverWithThem) {
  tempPage("AAAA.TMP", 1);
  tempPage("BBBB.TMP", 2);
  // "~~EM": the second tilde is consumed with the first one's three characters, so that name is lost;
  // "~XYZ" is passed over and the "~EMF" right after it still counts.
  run("x~~EMFAAAA.TMP ~XYZ~EMFBBBB.TMP", 1);
  EXPECT_EQ(pageFiles(), QStringList({"1-0001.emf"}));
  EXPECT_EQ(TagOf(work() + "1-0001.emf"), 2);
}

TEST_F(LegacyExtractor, FirstByteIsNeverPartOfAName) {
  tempPage("AAAA.TMP", 1);
  run("~EMFAAAA.TMP", 1);
  EXPECT_TRUE(pageFiles().isEmpty());
  run("-~EMFAAAA.TMP", 2);
  EXPECT_EQ(pageFiles(), QStringList({"2-0001.emf"}));
}

TEST_F(LegacyExtractor, MissingTemporaryFileLeavesAGapAndUnsafeNamesAreIgnored) {
  tempPage("CCCC.TMP", 3);
  // Outside the temporary folder: a name with a separator must not reach another folder.
  ASSERT_TRUE(WriteBytes(root() + "/secret", MakeEmf(210, 297, 77)));
  run(" ~EMFGONE.TMP ~EMF/../../s ~EMF../secr ~EMFCCCC.TMP ~EMFshort", 1);
  EXPECT_EQ(pageFiles(), QStringList({"1-0002.emf"}));
  EXPECT_EQ(TagOf(work() + "1-0002.emf"), 3);
}

TEST_F(LegacyExtractor, UnreadableSpoolFileGivesNothing) {
  ExtractLegacySpoolPages((root() + "/none.SPL").toStdString(), 1);
  EXPECT_TRUE(pageFiles().isEmpty());
}

TEST_F(Extractor, StartupCleanUpDeletesOnlySpoolCopies) {
  ASSERT_TRUE(QDir().mkpath(work()));
  for (const char *n : {"00012.SPL", "tmp.spl", "FP01.Spl"})
    ASSERT_TRUE(WriteBytes(work() + n, {1, 2}));
  ASSERT_TRUE(WriteBytes(work() + "1-0001.emf", MakeEmf()));
  ASSERT_TRUE(WriteBytes(work() + "~CurImg.jpg", {1}));
  EXPECT_EQ(DeleteSpoolCopies(), 3);
  EXPECT_EQ(QDir(work()).entryList(QDir::Files, QDir::Name), QStringList({"1-0001.emf", "~CurImg.jpg"}));
  ASSERT_TRUE(QDir(work()).removeRecursively());
  EXPECT_EQ(DeleteSpoolCopies(), 0);
}

// ---- real files ----

TEST_F(Extractor, CommittedSpoolFilesGiveTheirPages) {
  // A complete one-page job.
  EXPECT_EQ(extract(DataDir() + "/stories2-00035.spl", 1), 1);
  EXPECT_EQ(pageFiles(), QStringList({"1-0001.emf"}));
  // Copied while still being written: page 1 complete, page 2's record still says 0 bytes (a gap), then its
  // metafile unframed and zero fill, which reads as the end record.
  EXPECT_EQ(extract(DataDir() + "/snaildev-FP01166.spl", 2), 1);
  EXPECT_TRUE(QFileInfo::exists(work() + "2-0001.emf"));
  EXPECT_FALSE(QFileInfo::exists(work() + "2-0002.emf"));
}

TEST_F(Extractor, EveryCorpusSpoolAndDamagedFileIsSurvived) {
  const QString shared = SharedDir() + "/corpus";
  if (!QFileInfo(shared + "/spool").isDir())
    GTEST_SKIP() << "the shared corpus is not present at " << shared.toStdString();
  int job = 0, spoolPages = 0;
  for (const char *sub : {"spool", "malformed"}) {
    QDirIterator it(shared + "/" + sub, QDir::Files);
    while (it.hasNext()) {
      const QString f = it.next();
      const int before = int(pageFiles().size());
      const int result = extract(f, ++job);
      const int written = int(pageFiles().size()) - before;
      if (QString(sub) == "spool") {
        EXPECT_EQ(result, 1) << f.toStdString();
        EXPECT_GE(written, 1) << f.toStdString();
        spoolPages += written;
      }
    }
  }
  // Each written page file is a metafile again.
  for (const QString &n : pageFiles())
    EXPECT_GT(ReadAll(work() + n).size(), 88) << n.toStdString();
  EXPECT_GE(spoolPages, 4); // 1 + 2 + 1 pages in the three real jobs
}

TEST_F(Extractor, SampleJobHoldsThreeValidPages) {
  const QString job = QStringLiteral(FOLVEX_TEST_DATA) + "/../../resources/sample-job/";
  ASSERT_TRUE(QFileInfo::exists(job + "00001.SPL"));
  EXPECT_GE(QFileInfo(job + "00001.SHD").size(), 2);
  EXPECT_EQ(extract(job + "00001.SPL", 1), 1);
  ASSERT_EQ(pageFiles(), QStringList({"1-0001.emf", "1-0002.emf", "1-0003.emf"}));
  for (const QString &n : pageFiles())
    EXPECT_TRUE(emf::GetEnhMetaFileA((work() + n).toStdString())) << n.toStdString();
}
