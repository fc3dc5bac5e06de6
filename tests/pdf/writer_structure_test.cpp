// Byte layout of written documents: header, object 1, streams and their length objects, page objects, the page tree,
// cross-reference table and trailer; number formatting; scopes and the error model.
#include "pdf/image_document.h"
#include "pdf/writer.h"
#include "pdf_test_util.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>

using namespace pdftest;

namespace {

std::string fmt(double v) {
  std::string s;
  EXPECT_TRUE(pdf::FormatReal(v, &s)) << v;
  return s;
}

class WriterTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  std::string path(const std::string &name) const { return dir.path().toStdString() + "/" + name; }
  std::string text(const std::string &file) const {
    Bytes b = readFile(file);
    return std::string(b.begin(), b.end());
  }
  // A document with `pages` pages, each showing the same small in-memory BMP.
  std::string writePages(int pages, const std::string &name) {
    pdf::WriterPtr w = pdf::new_writer();
    pdf::add_memory_file(w.get(), "tile.bmp", makeBmp(colourPicture(4, 3), 24));
    std::string file = path(name);
    EXPECT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
    for (int i = 0; i < pages; ++i) {
      int img = pdf::load_image(w.get(), "auto", "tile.bmp", 0, "");
      EXPECT_GE(img, 0);
      pdf::begin_page_ext(w.get(), 10, 10, "");
      pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
      pdf::close_image(w.get(), img);
      pdf::end_page_ext(w.get(), "");
    }
    EXPECT_EQ(1, pdf::end_document(w.get(), ""));
    return file;
  }
  // Object number referred to by `key` inside `body`.
  static long ref(const std::string &body, const std::string &key) {
    std::smatch m;
    std::regex re(key + R"( (\d+) 0 R)");
    return std::regex_search(body, m, re) ? std::stol(m[1]) : -1;
  }
  static std::vector<long> kids(const std::string &body) {
    std::vector<long> out;
    std::size_t k = body.find("/Kids[");
    std::size_t e = body.find(']', k);
    std::string list = body.substr(k + 6, e - k - 6);
    std::regex re(R"( (\d+) 0 R)");
    for (auto it = std::sregex_iterator(list.begin(), list.end(), re); it != std::sregex_iterator(); ++it)
      out.push_back(std::stol((*it)[1]));
    return out;
  }
  QTemporaryDir dir;
};

TEST(NumberFormat, RealNumbersFollowTheDocumentRule) {
  EXPECT_EQ("75", fmt(75));
  EXPECT_EQ("75", fmt(72.0 / 96.0 * 100.0));
  EXPECT_EQ("595.2756", fmt(595.27559));
  EXPECT_EQ("0.5", fmt(0.5));
  EXPECT_EQ("0", fmt(0.000001));
  EXPECT_EQ("0", fmt(-0.000001));
  EXPECT_EQ("0", fmt(0));
  EXPECT_EQ("0.3333", fmt(1.0 / 3.0));
  EXPECT_EQ("-0.3333", fmt(-1.0 / 3.0));
  EXPECT_EQ("2", fmt(1.99999));
  EXPECT_EQ("0.0001", fmt(0.00005));
  EXPECT_EQ("74.9906", fmt(100 * 72 / (3780 * 0.0254)));
  EXPECT_EQ("32767.5", fmt(32767.5));
  EXPECT_EQ("32769", fmt(32768.6));
  EXPECT_EQ("-40000", fmt(-40000.2));
  EXPECT_EQ("2147483647", fmt(2147483647.0));
  std::string s;
  EXPECT_FALSE(pdf::FormatReal(2147483648.0, &s));
  EXPECT_FALSE(pdf::FormatReal(-3e12, &s));
}

TEST_F(WriterTest, HeaderObjectOneAndTrailerAreLaidOutExactly) {
  std::string file = writePages(1, "one.pdf");
  std::string pdf = text(file);
  const std::string header = std::string("%PDF-1.5\n") + "\x25\xE4\xE3\xCF\xD2\x0A";
  ASSERT_EQ(0, pdf.compare(0, header.size(), header));
  const std::string objectOne = "1 0 obj\n[/PDF/ImageB/ImageC/ImageI/Text]\nendobj\n";
  EXPECT_EQ(objectOne, pdf.substr(header.size(), objectOne.size()));
  EXPECT_EQ(std::string::npos, pdf.find(" 1 0 R")) << "object 1 is never referred to";
  EXPECT_EQ(std::string::npos, pdf.find("/Info"));

  // Cross-reference: every entry 20 bytes and pointing at its object; startxref points at "xref".
  std::size_t sx = pdf.rfind("startxref\n");
  long xref = std::stol(pdf.substr(sx + 10));
  ASSERT_EQ("xref\n", pdf.substr(static_cast<std::size_t>(xref), 5));
  std::smatch m;
  std::string tail = pdf.substr(static_cast<std::size_t>(xref));
  ASSERT_TRUE(std::regex_search(tail, m, std::regex(R"(^xref\n0 (\d+)\n)")));
  long size = std::stol(m[1]);
  std::size_t entries = static_cast<std::size_t>(xref) + m.length(0);
  EXPECT_EQ("0000000000 65535 f \n", pdf.substr(entries, 20));
  for (long n = 1; n < size; ++n) {
    std::string e = pdf.substr(entries + static_cast<std::size_t>(n) * 20, 20);
    ASSERT_TRUE(std::regex_match(e, std::regex(R"(\d{10} 00000 n \n)"))) << e;
    long off = std::stol(e.substr(0, 10));
    EXPECT_EQ(std::to_string(n) + " 0 obj\n", pdf.substr(static_cast<std::size_t>(off), std::to_string(n).size() + 7));
  }
  EXPECT_EQ("trailer\n", pdf.substr(entries + static_cast<std::size_t>(size) * 20, 8));
  ASSERT_TRUE(std::regex_search(
      pdf, m,
      std::regex(
          R"(/Size (\d+)\n/Root (\d+) 0 R\n/ID\[<([0-9A-F]{32})><([0-9A-F]{32})>\]\n>>\nstartxref\n\d+\n%%EOF\n$)")));
  EXPECT_EQ(size, std::stol(m[1]));
  EXPECT_EQ(m[3], m[4]) << "the two identifiers are equal";
  EXPECT_NE(std::string::npos, objectText(pdf, std::stol(m[2])).find("<</Type/Catalog\n/Pages 2 0 R\n>>\n"));

  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;

  // A second document gets other identifiers.
  std::string other = text(writePages(1, "two.pdf"));
  std::smatch m2;
  ASSERT_TRUE(std::regex_search(other, m2, std::regex(R"(/ID\[<([0-9A-F]{32})>)")));
  EXPECT_NE(m[3].str(), m2[1].str());
}

TEST_F(WriterTest, EveryStreamHasItsLengthInASeparateObject) {
  std::string pdf = text(writePages(2, "lengths.pdf"));
  std::regex re(R"(/Length (\d+) 0 R\n(?:/Filter/FlateDecode\n)?>>\nstream\n)");
  int streams = 0;
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), re); it != std::sregex_iterator(); ++it) {
    // The stream's own object starts at the last object line before its dictionary.
    std::size_t at = static_cast<std::size_t>(it->position(0));
    std::size_t head = pdf.rfind(" 0 obj\n", at);
    std::size_t lineStart = pdf.rfind('\n', head) + 1;
    long obj = std::stol(pdf.substr(lineStart, head - lineStart));
    long len = std::stol((*it)[1]);
    std::string data = streamBytes(pdf, obj);
    EXPECT_EQ(std::to_string(len) + " 0 obj\n" + std::to_string(data.size()) + "\nendobj\n", objectText(pdf, len));
    ++streams;
  }
  // Two image XObjects and two content streams.
  EXPECT_EQ(4, streams);
}

TEST_F(WriterTest, OneImagePageHasFourContentLinesAndTheImageSize) {
  // 100 x 100 pixels at 96 dpi: 75 x 75 points.
  std::string png = path("p.png");
  writeFile(png, makePng(colourPicture(100, 100), false, PngOptions{8, false, false, 3780, false}));
  // The same size as a bottom-up BMP without resolution (one pixel, one point).
  std::string bmp = path("b.bmp");
  writeFile(bmp, makeBmp(colourPicture(75, 75), 24));
  std::string file = path("four.pdf"), error;
  ASSERT_TRUE(pdf::WriteImageFilesToPdf({png, bmp}, file, &error)) << error;
  std::string pdf = text(file);

  std::vector<long> pages;
  std::regex pageRe(R"((\d+) 0 obj\n<</Type/Page\n)");
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), pageRe); it != std::sregex_iterator(); ++it)
    pages.push_back(std::stol((*it)[1]));
  ASSERT_EQ(2u, pages.size());
  std::string page1 = objectText(pdf, pages[0]);
  EXPECT_NE(std::string::npos, page1.find("/MediaBox[0 0 75 75]\n")) << page1;
  EXPECT_EQ(std::string::npos, page1.find("/CropBox"));
  EXPECT_EQ("q\n75 0 0 75 0 0 cm\n/I0 Do\nQ\n", inflate(streamBytes(pdf, ref(page1, "/Contents"))));
  std::string res1 = objectText(pdf, ref(page1, "/Resources"));
  EXPECT_TRUE(std::regex_search(res1, std::regex(R"(<</XObject<</I0 \d+ 0 R\n>>\n>>\nendobj\n$)"))) << res1;

  std::string page2 = objectText(pdf, pages[1]);
  EXPECT_EQ("q\n75 0 0 -75 0 75 cm\n/I1 Do\nQ\n", inflate(streamBytes(pdf, ref(page2, "/Contents"))));
  std::string res2 = objectText(pdf, ref(page2, "/Resources"));
  EXPECT_EQ(std::string::npos, res2.find("/I0 ")) << "a page lists only the images it uses";

  auto sizes = pageSizes(file);
  ASSERT_EQ(2u, sizes.size());
  EXPECT_DOUBLE_EQ(75, sizes[0].width);
  EXPECT_DOUBLE_EQ(75, sizes[0].height);
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
}

TEST_F(WriterTest, PageTreeGroupsLeavesOfTenByPowersOfTen) {
  {
    std::string file = writePages(10, "ten.pdf");
    std::string pdf = text(file);
    std::string root = objectText(pdf, 2);
    EXPECT_NE(std::string::npos, root.find("<</Type/Pages\n/Count 10\n/Kids["));
    EXPECT_EQ(std::string::npos, root.find("/Parent"));
    EXPECT_EQ(10u, kids(root).size());
    EXPECT_EQ(10u, pageSizes(file).size());
  }
  {
    std::string file = writePages(11, "eleven.pdf");
    std::string pdf = text(file);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(pdf, m, std::regex(R"(/Type/Catalog\n/Pages (\d+) 0 R)")));
    long rootNum = std::stol(m[1]);
    EXPECT_NE(2, rootNum);
    std::string root = objectText(pdf, rootNum);
    EXPECT_NE(std::string::npos, root.find("/Count 11\n"));
    auto k = kids(root);
    ASSERT_EQ(2u, k.size());
    EXPECT_EQ(2, k[0]);
    std::string first = objectText(pdf, 2), second = objectText(pdf, k[1]);
    EXPECT_NE(std::string::npos, first.find("/Count 10\n"));
    EXPECT_EQ(rootNum, ref(first, "/Parent"));
    EXPECT_NE(std::string::npos, second.find("/Count 1\n"));
    EXPECT_EQ(rootNum, ref(second, "/Parent"));
    // Page 11's parent is the second leaf.
    EXPECT_EQ(k[1], ref(objectText(pdf, kids(second)[0]), "/Parent"));
    std::string report;
    EXPECT_TRUE(qpdfCheck(file, &report)) << report;
    EXPECT_EQ(11u, pageSizes(file).size());
  }
  {
    std::string file = writePages(101, "hundred-one.pdf");
    std::string pdf = text(file);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(pdf, m, std::regex(R"(/Type/Catalog\n/Pages (\d+) 0 R)")));
    std::string root = objectText(pdf, std::stol(m[1]));
    EXPECT_NE(std::string::npos, root.find("/Count 101\n"));
    auto k = kids(root);
    ASSERT_EQ(2u, k.size());
    std::string hundred = objectText(pdf, k[0]);
    EXPECT_NE(std::string::npos, hundred.find("/Count 100\n"));
    auto leaves = kids(hundred);
    ASSERT_EQ(10u, leaves.size());
    EXPECT_EQ(2, leaves[0]);
    for (long leaf : leaves) {
      std::string body = objectText(pdf, leaf);
      EXPECT_NE(std::string::npos, body.find("/Count 10\n"));
      EXPECT_EQ(k[0], ref(body, "/Parent"));
    }
    EXPECT_NE(std::string::npos, objectText(pdf, k[1]).find("/Count 1\n"));
    std::string report;
    EXPECT_TRUE(qpdfCheck(file, &report)) << report;
    EXPECT_EQ(101u, pageSizes(file).size());
  }
}

TEST_F(WriterTest, EmptyDocumentIsStillWellFormed) {
  std::string file = writePages(0, "empty.pdf");
  std::string pdf = text(file);
  EXPECT_NE(std::string::npos, objectText(pdf, 2).find("/Count 0\n/Kids[]"));
  std::string report;
  qpdfCheck(file, &report);
  EXPECT_EQ(std::string::npos, report.find("ERROR")) << report;
}

TEST_F(WriterTest, BeginDocumentOnAnUnwritablePathStaysInObjectScope) {
  pdf::WriterPtr w = pdf::new_writer();
  std::string bad = path("no-such-folder/x.pdf");
  EXPECT_EQ(-1, pdf::begin_document(w.get(), bad.c_str(), 0, ""));
  EXPECT_EQ(pdf::ErrOpenFile, pdf::get_errnum(w.get()));
  EXPECT_NE(std::string::npos, pdf::get_errmsg(w.get()).find(bad));
  EXPECT_EQ("begin_document", pdf::get_apiname(w.get()));
  // The export would go on calling: nothing may end the program, every call reports the scope error.
  EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", "x.bmp", 0, ""));
  EXPECT_EQ(pdf::ErrScope, pdf::get_errnum(w.get()));
  EXPECT_EQ(-1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  EXPECT_EQ(-1, pdf::end_document(w.get(), ""));
  // Still in object scope: a good file can be begun now.
  std::string good = path("good.pdf");
  EXPECT_EQ(1, pdf::begin_document(w.get(), good.c_str(), 0, ""));
  EXPECT_EQ(1, pdf::end_document(w.get(), ""));
  // A name with an explicit length uses only that many characters.
  std::string longer = path("cut.pdfXYZ");
  EXPECT_EQ(1, pdf::begin_document(w.get(), longer.c_str(), static_cast<int>(longer.size() - 3), ""));
  EXPECT_EQ(1, pdf::end_document(w.get(), ""));
  EXPECT_FALSE(readFile(path("cut.pdf")).empty());
}

TEST_F(WriterTest, ErrorsReachTheCallerAndAbandonTheDocument) {
  std::string file = path("err.pdf");
  std::vector<int> handlerTypes;
  pdf::WriterPtr w = pdf::new_writer();
  pdf::set_error_handler(w.get(), [&](pdf::Writer *, int type, const std::string &) { handlerTypes.push_back(type); });

  // Scope error: ending a page that was never begun.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::end_page_ext(w.get(), ""));
  EXPECT_EQ(pdf::ErrScope, pdf::get_errnum(w.get()));
  EXPECT_EQ("end_page_ext", pdf::get_apiname(w.get()));
  EXPECT_EQ(std::vector<int>{pdf::kErrorTypeError}, handlerTypes);
  // The document is gone: the writer is back in object scope.
  EXPECT_EQ(-1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  EXPECT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));

  // Negative page size and an empty MediaBox.
  EXPECT_EQ(-1, pdf::begin_page_ext(w.get(), -1, 10, ""));
  EXPECT_EQ(pdf::ErrNegativePageSize, pdf::get_errnum(w.get()));
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 0, 10, ""));
  EXPECT_EQ(-1, pdf::end_page_ext(w.get(), ""));
  EXPECT_EQ(pdf::ErrEmptyMediaBox, pdf::get_errnum(w.get()));

  // A bad image handle.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  EXPECT_EQ(-1, pdf::fit_image(w.get(), 3, 0, 0, ""));
  EXPECT_EQ(pdf::ErrBadHandle, pdf::get_errnum(w.get()));

  // A number beyond the largest the document can hold.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  pdf::add_memory_file(w.get(), "tile.bmp", makeBmp(colourPicture(4, 3), 24));
  int tile = pdf::load_image(w.get(), "auto", "tile.bmp", 0, "");
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  EXPECT_EQ(-1, pdf::fit_image(w.get(), tile, 3e9, 0, ""));
  EXPECT_EQ(pdf::ErrNumberTooLarge, pdf::get_errnum(w.get()));

  // Empty and unknown image types are errors, not failed loads.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::load_image(w.get(), "", "x", 0, ""));
  EXPECT_EQ(pdf::ErrImageType, pdf::get_errnum(w.get()));
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::load_image(w.get(), "webp", "x", 0, ""));
  EXPECT_EQ(pdf::ErrImageKeyword, pdf::get_errnum(w.get()));

  // With a recovery point the error arrives as an exception.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  {
    pdf::RecoveryPoint rp(w.get());
    try {
      pdf::end_page_ext(w.get(), "");
      ADD_FAILURE() << "no exception";
    } catch (const pdf::Exception &e) {
      EXPECT_EQ(pdf::ErrScope, e.number());
      EXPECT_EQ("end_page_ext", e.apiName());
    }
  }
  EXPECT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, "")) << "abandoned after the exception too";
  EXPECT_EQ(1, pdf::end_document(w.get(), ""));

  // Null writers: nothing happens.
  EXPECT_EQ(-1, pdf::begin_document(nullptr, file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::get_errnum(nullptr));
  pdf::delete_writer(nullptr);
}

TEST_F(WriterTest, DashWritesToStandardOutputAndLeavesItOpen) {
  std::string file = path("stdout.pdf");
  std::fflush(stdout);
  int saved = dup(1);
  FILE *target = std::fopen(file.c_str(), "wb");
  ASSERT_NE(nullptr, target);
  dup2(fileno(target), 1);
  pdf::WriterPtr w = pdf::new_writer();
  pdf::add_memory_file(w.get(), "tile.bmp", makeBmp(colourPicture(4, 3), 24));
  int begun = pdf::begin_document(w.get(), "-", 0, "");
  int img = pdf::load_image(w.get(), "auto", "tile.bmp", 0, "");
  pdf::begin_page_ext(w.get(), 10, 10, "");
  pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
  pdf::end_page_ext(w.get(), "");
  int ended = pdf::end_document(w.get(), "");
  bool stillOpen = std::fflush(stdout) == 0 && fcntl(1, F_GETFD) != -1;
  dup2(saved, 1);
  close(saved);
  std::fclose(target);
  EXPECT_EQ(1, begun);
  EXPECT_EQ(1, ended);
  EXPECT_TRUE(stillOpen);
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
}

TEST_F(WriterTest, WarningsAreSilentUnlessAskedFor) {
  std::string tiny = path("tiny.bmp");
  writeFile(tiny, makeBmp(colourPicture(2, 2), 24)); // 2 x 2 points: below the smallest page
  std::vector<int> types;
  pdf::WriterPtr w = pdf::new_writer();
  pdf::set_error_handler(w.get(), [&](pdf::Writer *, int type, const std::string &) { types.push_back(type); });
  std::string file = path("warn.pdf");
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  int img = pdf::load_image(w.get(), "auto", tiny.c_str(), 0, "");
  ASSERT_GE(img, 0);
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  EXPECT_EQ(1, pdf::fit_image(w.get(), img, 0, 0, "adjustpage"));
  EXPECT_EQ(pdf::WarnPageSize, pdf::get_errnum(w.get()));
  EXPECT_EQ(1, pdf::end_page_ext(w.get(), ""));
  EXPECT_EQ(1, pdf::end_document(w.get(), ""));
  EXPECT_FALSE(types.empty());
  for (int t : types)
    EXPECT_EQ(pdf::kErrorTypeWarning, t);
  auto sizes = pageSizes(file);
  ASSERT_EQ(1u, sizes.size());
  EXPECT_DOUBLE_EQ(2, sizes[0].width);

  // With warnings off nothing is recorded; with a recovery point a warning throws.
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  pdf::set_parameter(w.get(), "warning", "false");
  img = pdf::load_image(w.get(), "auto", tiny.c_str(), 0, "");
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  types.clear();
  EXPECT_EQ(1, pdf::fit_image(w.get(), img, 0, 0, "adjustpage"));
  EXPECT_TRUE(types.empty());
  pdf::set_parameter(w.get(), "warning", "true");
  pdf::RecoveryPoint rp(w.get());
  EXPECT_THROW(pdf::end_page_ext(w.get(), ""), pdf::Exception);
}

TEST_F(WriterTest, ImagesLoadedInsideAPageSplitItsContent) {
  std::string a = path("a.bmp");
  writeFile(a, makeBmp(colourPicture(20, 10), 24));
  pdf::WriterPtr w = pdf::new_writer();
  std::string file = path("inpage.pdf");
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 60, 40, ""));
  int i0 = pdf::load_image(w.get(), "auto", a.c_str(), 0, "");
  ASSERT_EQ(0, i0);
  EXPECT_EQ(1, pdf::fit_image(w.get(), i0, 0, 0, ""));
  EXPECT_EQ(1, pdf::close_image(w.get(), i0));
  int i1 = pdf::load_image(w.get(), "bmp", a.c_str(), 0, "");
  EXPECT_EQ(0, i1) << "a released slot is used again";
  EXPECT_EQ(1, pdf::fit_image(w.get(), i1, 30, 20, ""));
  EXPECT_EQ(1, pdf::end_page_ext(w.get(), ""));
  EXPECT_EQ(1, pdf::end_document(w.get(), ""));
  Bytes bytes = readFile(file);
  std::string pdf(bytes.begin(), bytes.end());
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
  EXPECT_TRUE(std::regex_search(pdf, std::regex(R"(/Contents\[ \d+ 0 R \d+ 0 R \d+ 0 R\]\n)")));
  EXPECT_TRUE(std::regex_search(pdf, std::regex(R"(<</XObject<</I0 \d+ 0 R\n/I1 \d+ 0 R\n>>)")));
  Picture page = renderPage(file, 1, 72);
  ASSERT_EQ(60, page.width);
  Picture expected = colourPicture(20, 10);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 20; ++x) {
      EXPECT_EQ(expected.at(x, y), page.at(x, y + 30));
      EXPECT_EQ(expected.at(x, y), page.at(x + 30, y + 10));
    }
}

TEST_F(WriterTest, EqualPalettesShareOneIndexedColourSpace) {
  IndexedPicture pic = indexedPicture(16, 16, 8);
  IndexedPicture other = pic;
  other.palette[5] = Rgb{1, 2, 3};
  std::string a = path("a.bmp"), b = path("b.bmp"), c = path("c.bmp");
  writeFile(a, makeBmp(pic));
  writeFile(b, makeBmp(pic, BmpOptions{true, false, false, 0}));
  writeFile(c, makeBmp(other));
  std::string file = path("shared.pdf"), error;
  ASSERT_TRUE(pdf::WriteImageFilesToPdf({a, b, c}, file, &error)) << error;
  Bytes bytes = readFile(file);
  std::string pdf(bytes.begin(), bytes.end());
  std::regex re(R"((\d+) 0 obj\n\[/Indexed/DeviceRGB 255 (\d+) 0 R\]\nendobj\n)");
  std::set<long> spaces;
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), re); it != std::sregex_iterator(); ++it) {
    spaces.insert(std::stol((*it)[1]));
    EXPECT_EQ(768u, inflate(streamBytes(pdf, std::stol((*it)[2]))).size()) << "3 bytes per palette entry";
  }
  EXPECT_EQ(2u, spaces.size());
  std::regex use(R"(/ColorSpace (\d+) 0 R\n)");
  std::vector<long> used;
  for (auto it = std::sregex_iterator(pdf.begin(), pdf.end(), use); it != std::sregex_iterator(); ++it)
    used.push_back(std::stol((*it)[1]));
  ASSERT_EQ(3u, used.size());
  EXPECT_EQ(used[0], used[1]);
  EXPECT_NE(used[0], used[2]);
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
}

TEST_F(WriterTest, FilesAreFoundInMemoryThenByNameThenInTheSearchPathNewestFirst) {
  QTemporaryDir older, newer;
  writeFile(older.path().toStdString() + "/pic.bmp", makeBmp(colourPicture(7, 7), 24));
  writeFile(newer.path().toStdString() + "/pic.bmp", makeBmp(colourPicture(9, 9), 24));
  pdf::WriterPtr w = pdf::new_writer();
  std::string file = path("search.pdf");
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", "pic.bmp", 0, "")) << "not found without a search path";
  pdf::set_parameter(w.get(), "SearchPath", older.path().toStdString());
  pdf::set_parameter(w.get(), "SearchPath", newer.path().toStdString());
  int img = pdf::load_image(w.get(), "auto", "pic.bmp", 0, "");
  ASSERT_GE(img, 0);
  pdf::add_memory_file(w.get(), "pic.bmp", makeBmp(colourPicture(5, 5), 24));
  int mem = pdf::load_image(w.get(), "auto", "pic.bmp", 0, "");
  ASSERT_GE(mem, 0);
  for (const char *bad : {"", ".", ".."})
    EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", bad, 0, "")) << bad;
  EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", dir.path().toStdString().c_str(), 0, "")) << "a folder";
  pdf::begin_page_ext(w.get(), 10, 10, "");
  pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
  pdf::end_page_ext(w.get(), "");
  pdf::begin_page_ext(w.get(), 10, 10, "");
  pdf::fit_image(w.get(), mem, 0, 0, "adjustpage");
  pdf::end_page_ext(w.get(), "");
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  auto sizes = pageSizes(file);
  ASSERT_EQ(2u, sizes.size());
  EXPECT_DOUBLE_EQ(9, sizes[0].width) << "the newest search folder wins";
  EXPECT_DOUBLE_EQ(5, sizes[1].width) << "in-memory files come first";
}

TEST_F(WriterTest, FailedLoadLeavesTheDocumentIntact) {
  std::string good = path("good.bmp"), bad = path("bad.bmp");
  writeFile(good, makeBmp(colourPicture(8, 8), 24));
  Bytes broken = makeBmp(colourPicture(8, 8), 24);
  broken.resize(broken.size() - 20);
  writeFile(bad, broken);
  pdf::WriterPtr w = pdf::new_writer();
  std::string file = path("intact.pdf");
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::load_image(w.get(), "auto", bad.c_str(), 0, ""));
  EXPECT_EQ(2400, pdf::get_errnum(w.get()));
  EXPECT_NE(std::string::npos, pdf::get_errmsg(w.get()).find(bad));
  EXPECT_EQ(-1, pdf::load_image(w.get(), "gif", good.c_str(), 0, "")) << "a BMP is not a GIF";
  EXPECT_EQ(pdf::ErrNotOfKind, pdf::get_errnum(w.get()));
  int img = pdf::load_image(w.get(), "auto", good.c_str(), 0, "");
  EXPECT_EQ(0, img);
  pdf::begin_page_ext(w.get(), 10, 10, "");
  pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
  pdf::end_page_ext(w.get(), "");
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  Bytes bytes = readFile(file);
  std::string pdf(bytes.begin(), bytes.end());
  EXPECT_NE(std::string::npos, pdf.find("<</XObject<</I0 ")) << "the failed loads used no XObject numbers";
  std::string report;
  EXPECT_TRUE(qpdfCheck(file, &report)) << report;
}

// A document takes its name only when it is complete: an error or an abandoned document leaves neither a
// half-written file nor a damaged earlier one, and a finished one replaces the earlier file.
TEST_F(WriterTest, AnUnfinishedDocumentLeavesNothingBehind) {
  std::string file = path("kept.pdf");
  writeFile(file, Bytes{'o', 'l', 'd'});
  auto folderEntries = [&] {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  };
  const QStringList before = folderEntries();
  {
    pdf::WriterPtr w = pdf::new_writer();
    ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
    ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
    EXPECT_EQ(before.size() + 1, folderEntries().size()) << "the document is written beside its name";
  } // deleted without end_document, as an aborted export does
  EXPECT_EQ((Bytes{'o', 'l', 'd'}), readFile(file));
  EXPECT_EQ(before, folderEntries());
  pdf::WriterPtr w = pdf::new_writer();
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  EXPECT_EQ(-1, pdf::end_page_ext(w.get(), "")); // an error abandons the document
  EXPECT_EQ((Bytes{'o', 'l', 'd'}), readFile(file));
  EXPECT_EQ(before, folderEntries());
  ASSERT_EQ(1, pdf::begin_document(w.get(), file.c_str(), 0, ""));
  ASSERT_EQ(1, pdf::begin_page_ext(w.get(), 10, 10, ""));
  ASSERT_EQ(1, pdf::end_page_ext(w.get(), ""));
  ASSERT_EQ(1, pdf::end_document(w.get(), ""));
  EXPECT_EQ(before, folderEntries());
  EXPECT_TRUE(qpdfCheck(file));
}

TEST_F(WriterTest, WriteImageFilesToPdfReportsAFailedDocument) {
  std::string good = path("good.bmp"), missing = path("missing.png"), file = path("partial.pdf");
  writeFile(good, makeBmp(colourPicture(8, 8), 24));
  std::string error;
  EXPECT_FALSE(pdf::WriteImageFilesToPdf({good, missing}, file, &error));
  EXPECT_NE(std::string::npos, error.find(missing));
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
  EXPECT_FALSE(pdf::WriteImageFilesToPdf({good}, path("no/such/dir.pdf"), &error));
  EXPECT_NE(std::string::npos, error.find("1010"));
}

} // namespace
