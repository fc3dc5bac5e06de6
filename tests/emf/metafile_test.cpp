// The metafile object: validation (each rejection), header fields, counters that disagree, load, save, copy.
#include "emf_builder.h"

#include "emf/metafile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace emf;
using emftest::EmfBuilder;

namespace {

void set32(std::vector<uint8_t> &b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    b[off + i] = uint8_t(v >> (8 * i));
}

std::string rejection(const std::vector<uint8_t> &bytes) {
  std::string why;
  HENHMETAFILE mf = SetEnhMetaFileBits(bytes, &why);
  EXPECT_FALSE(mf) << "accepted";
  return why;
}

std::vector<uint8_t> sample() {
  EmfBuilder b;
  b.rec(EMR_MOVETOEX, {1, 2}).rec(EMR_LINETO, {3, 4});
  return b.bytes();
}

} // namespace

TEST(MetafileValidation, AcceptsAWellFormedStream) {
  std::string why = "untouched";
  HENHMETAFILE mf = SetEnhMetaFileBits(sample(), &why);
  ASSERT_TRUE(mf);
  EXPECT_EQ(why, "untouched"); // no reason on success
  ASSERT_EQ(mf->records().size(), 4u);
  EXPECT_EQ(mf->records()[0].type, EMR_HEADER);
  EXPECT_EQ(mf->records()[1].type, EMR_MOVETOEX);
  EXPECT_EQ(mf->records()[3].type, EMR_EOF);
  EXPECT_EQ(mf->records()[2].offset, 108u + 16u);
}

TEST(MetafileValidation, RejectsEachBrokenRuleWithItsReason) {
  EXPECT_NE(rejection({1, 0, 0}).find("too short"), std::string::npos);

  auto notHeader = sample();
  set32(notHeader, 0, EMR_EOF);
  EXPECT_NE(rejection(notHeader).find("not EMR_HEADER"), std::string::npos);

  auto badSignature = sample();
  set32(badSignature, 40, 0x20464D45);
  EXPECT_NE(rejection(badSignature).find("signature"), std::string::npos);

  auto smallHeader = sample();
  set32(smallHeader, 4, 80);
  EXPECT_NE(rejection(smallHeader).find("header record too small"), std::string::npos);

  auto hugeHeader = sample();
  set32(hugeHeader, 4, 0x7ffffff0);
  EXPECT_NE(rejection(hugeHeader).find("exceeds the data"), std::string::npos);

  auto tiny = sample();
  set32(tiny, 108 + 4, 4); // the MOVETOEX record claims 4 bytes
  EXPECT_NE(rejection(tiny).find("less than 8"), std::string::npos);

  auto unaligned = sample();
  set32(unaligned, 108 + 4, 18);
  EXPECT_NE(rejection(unaligned).find("not a multiple of 4"), std::string::npos);

  auto overrun = sample();
  set32(overrun, 108 + 4, 0xfffffff0u);
  EXPECT_NE(rejection(overrun).find("runs past the end"), std::string::npos);

  auto cut = sample();
  cut.resize(cut.size() - 4); // the EOF record loses its last field
  EXPECT_NE(rejection(cut).find("runs past the end"), std::string::npos);

  auto ragged = sample();
  ragged.resize(ragged.size() - 20); // no EOF, and four stray bytes where a record would start
  ragged.insert(ragged.end(), {0, 0, 0, 0});
  EXPECT_NE(rejection(ragged).find("cut off"), std::string::npos);
}

TEST(MetafileValidation, ToleratesWrongCountersAndMissingEof) {
  auto bytes = sample();
  set32(bytes, 48, 999999); // nBytes
  set32(bytes, 52, 77);     // nRecords
  EXPECT_TRUE(SetEnhMetaFileBits(bytes));

  // Ending exactly at the end of the data without EMR_EOF is accepted.
  auto noEof = sample();
  noEof.resize(noEof.size() - 20);
  HENHMETAFILE mf = SetEnhMetaFileBits(noEof);
  ASSERT_TRUE(mf);
  EXPECT_EQ(mf->records().size(), 3u);

  // A stray header record later in the stream is no reason to refuse the file (the player skips it).
  auto twoHeaders = sample();
  set32(twoHeaders, 108, EMR_HEADER);
  EXPECT_TRUE(SetEnhMetaFileBits(twoHeaders));

  // Bytes after EMR_EOF are not walked.
  auto trailing = sample();
  trailing.insert(trailing.end(), {1, 2, 3});
  mf = SetEnhMetaFileBits(trailing);
  ASSERT_TRUE(mf);
  EXPECT_EQ(mf->records().back().type, EMR_EOF);
}

TEST(MetafileHeader, FieldsAndOptionalParts) {
  EmfBuilder::Options o;
  o.frame = {-50, 20, 21000, 29700};
  o.device = {1024, 768};
  o.millimeters = {320, 240};
  o.handles = 7;
  HENHMETAFILE mf = EmfBuilder(o).metafile();
  ASSERT_TRUE(mf);
  const ENHMETAHEADER &h = mf->header();
  EXPECT_EQ(h.rclFrame.left, -50);
  EXPECT_EQ(h.rclFrame.bottom, 29700);
  EXPECT_EQ(h.szlDevice.cx, 1024);
  EXPECT_EQ(h.szlMillimeters.cy, 240);
  EXPECT_EQ(h.nHandles, 7);
  EXPECT_EQ(h.szlMicrometers.cx, 320000);

  ENHMETAHEADER out{};
  EXPECT_EQ(GetEnhMetaFileHeader(mf, 0, nullptr), 108u);
  EXPECT_EQ(GetEnhMetaFileHeader(mf, 108, &out), 108u);
  EXPECT_EQ(out.nHandles, 7);
  ENHMETAHEADER part{};
  EXPECT_EQ(GetEnhMetaFileHeader(mf, 8, &part), 8u);
  EXPECT_EQ(part.iType, 1u);
  EXPECT_EQ(part.rclBounds.right, 0); // nothing past the requested size is written
  EXPECT_EQ(GetEnhMetaFileHeader(HENHMETAFILE{}, 108, &out), 0u);
}

TEST(MetafileHeader, ShortHeaderHasNoOptionalFieldsAndDescriptionIsBounded) {
  // An 88-byte header carries no pixel format or micrometre fields.
  auto bytes = sample();
  std::vector<uint8_t> shortHeader(bytes.begin(), bytes.begin() + 88);
  set32(shortHeader, 4, 88);
  shortHeader.insert(shortHeader.end(), bytes.begin() + 108, bytes.end());
  HENHMETAFILE mf = SetEnhMetaFileBits(shortHeader);
  ASSERT_TRUE(mf);
  EXPECT_EQ(mf->header().szlMicrometers.cx, 0);
  EXPECT_EQ(mf->header().cbPixelFormat, 0u);

  // A description inside the header is read; one pointing outside it reads as empty.
  auto withDesc = sample();
  const std::vector<uint8_t> desc = {'A', 0, 'b', 0, 0, 0, 0, 0};
  withDesc.insert(withDesc.begin() + 108, desc.begin(), desc.end());
  set32(withDesc, 4, 116);
  set32(withDesc, 60, 3);   // nDescription
  set32(withDesc, 64, 108); // offDescription
  mf = SetEnhMetaFileBits(withDesc);
  ASSERT_TRUE(mf);
  EXPECT_EQ(mf->description(), std::u16string(u"Ab\0", 3));
  set32(withDesc, 60, 0x40000000);
  mf = SetEnhMetaFileBits(withDesc);
  ASSERT_TRUE(mf);
  EXPECT_TRUE(mf->description().empty());
}

TEST(MetafileFiles, LoadSaveCopyAndRelease) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = (dir.path() + "/page.emf").toStdString();
  HENHMETAFILE mf = SetEnhMetaFileBits(sample());
  ASSERT_TRUE(mf);

  HENHMETAFILE saved = CopyEnhMetaFileA(mf, path);
  ASSERT_TRUE(saved);
  EXPECT_NE(saved.get(), mf.get());
  HENHMETAFILE loaded = GetEnhMetaFileA(path);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->bytes(), mf->bytes());

  HENHMETAFILE inMemory = CopyEnhMetaFileA(mf, "");
  ASSERT_TRUE(inMemory);
  EXPECT_EQ(inMemory->bytes(), mf->bytes());

  EXPECT_FALSE(CopyEnhMetaFileA(mf, (dir.path() + "/no/such/folder/x.emf").toStdString()));
  EXPECT_FALSE(CopyEnhMetaFileA(HENHMETAFILE{}, path));

  std::string why;
  EXPECT_FALSE(GetEnhMetaFileA((dir.path() + "/missing.emf").toStdString(), &why));
  EXPECT_NE(why.find("cannot open"), std::string::npos);

  QFile junk(dir.path() + "/junk.emf");
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("not a metafile at all, just text");
  junk.close();
  why.clear();
  EXPECT_FALSE(GetEnhMetaFileA(junk.fileName().toStdString(), &why));
  EXPECT_FALSE(why.empty());

  EXPECT_TRUE(DeleteEnhMetaFile(mf));
  EXPECT_FALSE(mf);
  EXPECT_FALSE(DeleteEnhMetaFile(mf));
  EXPECT_TRUE(loaded); // other handles are independent
}
