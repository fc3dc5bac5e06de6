// The captured page store: loading page files into the page list with thumbnails and their places in the strip,
// the current page, the failure messages, clearing, rebuilding, the page list itself and the small helpers.
#include "capture/page_store.h"
#include "capture_support.h"
#include "emf/metafile.h"
#include "platform/paths.h"

#include <Magick++.h>
#include <atomic>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

using namespace capture;
using namespace capture_test;

namespace {

class Store : public CaptureEnv {
protected:
  void SetUp() override {
    CaptureEnv::SetUp();
    ASSERT_TRUE(QDir().mkpath(work()));
    window.client = QRect(0, 10, 156, 600);
  }
  QString work() const { return QString::fromStdString(platform::workFolder()); }
  void putFile(const QString &name, const std::vector<uint8_t> &bytes) {
    ASSERT_TRUE(WriteBytes(work() + name, bytes));
  }
  void putCorpusPage(const QString &name, const char *dataFile) {
    ASSERT_TRUE(QFile::copy(DataDir() + "/" + dataFile, work() + name));
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const PageRecord &p : store.pages)
      out.push_back(p.name);
    return out;
  }
  // What a capture pass does with the work folder: load and append, then the thumbnails as the worker makes them.
  std::vector<ThumbnailRequest> append() { return store.AppendPreparedPages(PageStore::PrepareNewPages(), window); }
  void makeThumbnails(const std::vector<ThumbnailRequest> &requests) {
    for (const ThumbnailRequest &r : requests)
      EXPECT_TRUE(store.SetThumbnail(r.serial, r.ticket, MakeThumbnail(r.page, -1, r.rotation), window));
  }
  void load() { makeThumbnails(append()); }
  PageStore store;
  FakeWindow window;
};

} // namespace

TEST(PageSuffixTest, FillsFromTheRight) {
  EXPECT_EQ(PageSuffix("12-0003.emf"), "0012-0003");
  EXPECT_EQ(PageSuffix("5-0001.emf"), "0005-0001");
  EXPECT_EQ(PageSuffix("7-0001.emf"), "0007-0001");
  EXPECT_EQ(PageSuffix("1234-0002.emf"), "1234-0002");
  EXPECT_EQ(PageSuffix("123456-0002.emf"), "3456-0002");
  EXPECT_EQ(PageSuffix("3-10000.emf"), "003-10000"); // five-digit page numbers push the dash left
  // Names shorter than a page file name never read before their first character.
  EXPECT_EQ(PageSuffix("a.emf"), "0000-000a");
  EXPECT_EQ(PageSuffix(".emf"), "0000-0000");
  EXPECT_EQ(PageSuffix("ab1.emf"), "0000-0ab1");
  EXPECT_EQ(PageSuffix(""), "0000-0000");
}

TEST(BitmapFromImageTest, CopiesPixelsOpaqueTopDown) {
  Magick::Image img(Magick::Geometry(3, 2), Magick::Color("white"));
  img.pixelColor(0, 0, Magick::ColorRGB(1.0, 0.0, 0.0));
  img.pixelColor(2, 1, Magick::ColorRGB(0.0, 0.0, 1.0));
  const QImage q = BitmapFromImage(img);
  ASSERT_EQ(q.size(), QSize(3, 2));
  EXPECT_EQ(q.format(), QImage::Format_RGB32);
  EXPECT_EQ(q.pixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(q.pixel(2, 1), 0xFF0000FFu);
  EXPECT_EQ(q.pixel(1, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(BitmapFromImage(Magick::Image()).isNull());
}

TEST_F(Store, ThreePagesIntoAnEmptyListThenASecondJob) {
  putFile("1-0001.emf", MakeEmf(210, 297, 1));       // portrait A4
  putCorpusPage("1-0002.emf", "deping-example.emf"); // landscape
  putCorpusPage("1-0003.emf", "snaildev-2.emf");     // tall and narrow
  const std::vector<ThumbnailRequest> requests = append();

  // The pages are in the list at once, each in a placeholder of the size its thumbnail will have.
  ASSERT_EQ(store.pageCount(), 3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(names(), (std::vector<std::string>{"1-0001.emf", "1-0002.emf", "1-0003.emf"}));
  for (const PageRecord &p : store.pages) {
    EXPECT_TRUE(p.thumbnail.isNull());
    EXPECT_TRUE(p.thumbnailPending);
  }
  const PageRecord &p0 = store.pages[0], &p1 = store.pages[1], &p2 = store.pages[2];
  // The first thumbnail centred in the 140-pixel cell below the client top, the others 24 pixels apart.
  EXPECT_EQ(p0.thumbY, (140 - p0.thumbH) / 2 + 10 + 5);
  EXPECT_EQ(p1.thumbY, p0.thumbY + p0.thumbH + 24);
  EXPECT_EQ(p2.thumbY, p1.thumbY + p1.thumbH + 24);
  ASSERT_EQ(window.stripRects.size(), 3u);
  EXPECT_EQ(window.stripRects[1], QRect(p1.thumbX, p1.thumbY, p1.thumbW, p1.thumbH + 24));
  EXPECT_EQ(window.scrollMax, 30);
  // The first page became current; the window renders it, and the view state says a render is under way.
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(store.viewState.load(), kViewPages);
  EXPECT_EQ(window.count("renderCurrentPage"), 1);
  EXPECT_EQ(window.count("repaintPageInfoArea"), 1);
  EXPECT_TRUE(window.messages.empty());
  // The page files were deleted once loaded.
  EXPECT_TRUE(QDir(work()).entryList({"*.emf"}).isEmpty());

  // The thumbnails come with exactly the sizes expected, so nothing moves.
  const std::vector<QRect> places = {QRect(p0.thumbX, p0.thumbY, p0.thumbW, p0.thumbH),
                                     QRect(p1.thumbX, p1.thumbY, p1.thumbW, p1.thumbH),
                                     QRect(p2.thumbX, p2.thumbY, p2.thumbW, p2.thumbH)};
  window.calls.clear();
  makeThumbnails(requests);
  EXPECT_EQ(window.count("repaintStrip(erase)"), 0);
  for (int i = 0; i < 3; ++i) {
    const PageRecord &p = store.pages[size_t(i)];
    EXPECT_FALSE(p.thumbnailPending);
    EXPECT_EQ(p.thumbnail.size(), places[size_t(i)].size()) << i;
    EXPECT_EQ(QRect(p.thumbX, p.thumbY, p.thumbW, p.thumbH), places[size_t(i)]) << i;
    EXPECT_EQ(p.thumbX, (156 - p.thumbW) / 2);
  }
  // Portrait pages fill the box's height, landscape ones its width.
  EXPECT_EQ(p0.thumbH, 130);
  EXPECT_LT(p0.thumbW, 130);
  EXPECT_EQ(p1.thumbW, 130);
  EXPECT_LT(p1.thumbH, 130);
  EXPECT_EQ(p2.thumbH, 130);
  EXPECT_LT(p2.thumbW, 60);

  // A second job appends; the current page stays, and the page information learns the new count.
  for (int i = 1; i <= 4; ++i)
    putFile(QString("2-000%1.emf").arg(i), MakeEmf(297, 210, 10 + uint32_t(i)));
  window.calls.clear();
  load();
  ASSERT_EQ(store.pageCount(), 7);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(window.count("renderCurrentPage"), 0);
  EXPECT_EQ(window.count("repaintPageInfoArea"), 1);
  EXPECT_EQ(store.pages[3].thumbY, p2.thumbY + p2.thumbH + 24);
  EXPECT_EQ(store.pages[3].name, "2-0001.emf");
  EXPECT_EQ(window.scrollMax, 70);
}

TEST_F(Store, ThumbnailsThatArriveLateOrDifferFromTheirPlace) {
  for (int i = 1; i <= 3; ++i)
    putFile(QString("1-000%1.emf").arg(i), MakeEmf(210, 297, uint32_t(i)));
  const std::vector<ThumbnailRequest> requests = append();
  ASSERT_EQ(requests.size(), 3u);
  const int y2 = store.pages[2].thumbY;
  // A thumbnail 20 pixels taller than its place: it is centred again and the later pages move down by 20.
  QImage taller(100, store.pages[1].thumbH + 20, QImage::Format_RGB32);
  taller.fill(Qt::red);
  window.calls.clear();
  EXPECT_TRUE(store.SetThumbnail(requests[1].serial, requests[1].ticket, taller, window));
  EXPECT_EQ(store.pages[1].thumbW, 100);
  EXPECT_EQ(store.pages[1].thumbX, 28);
  EXPECT_EQ(store.pages[2].thumbY, y2 + 20);
  EXPECT_EQ(window.count("repaintStrip(erase)"), 1);
  // The same thumbnail again, or one asked for earlier than the last request, is not taken.
  EXPECT_FALSE(store.SetThumbnail(requests[1].serial, requests[1].ticket, taller, window));
  const std::vector<ThumbnailRequest> rebuilt = store.RebuildThumbnails();
  ASSERT_EQ(rebuilt.size(), 3u);
  EXPECT_FALSE(store.SetThumbnail(requests[0].serial, requests[0].ticket, taller, window));
  EXPECT_FALSE(store.pages[0].thumbnail.isNull() && !store.pages[0].thumbnailPending);
  // A page deleted meanwhile takes nothing; the others take their rebuilt thumbnails.
  store.pages.erase(0);
  EXPECT_FALSE(store.SetThumbnail(rebuilt[0].serial, rebuilt[0].ticket, taller, window));
  EXPECT_EQ(store.indexOfSerial(rebuilt[2].serial), 1);
  EXPECT_TRUE(store.SetThumbnail(rebuilt[2].serial, rebuilt[2].ticket, taller, window));
  EXPECT_EQ(store.pages[1].thumbnail.pixelColor(0, 0), QColor(Qt::red));
}

TEST_F(Store, TheJobsDocumentNameGoesWithItsPages) {
  putFile("4-0001.emf", MakeEmf());
  putFile("5-0001.emf", MakeEmf());
  const PreparedPages batch =
      PageStore::PrepareNewPages(nullptr, [](int job) { return job == 4 ? std::string("Report.docx") : ""; });
  ASSERT_EQ(batch.pages.size(), 2u);
  EXPECT_EQ(batch.pages[0].document, "Report.docx");
  EXPECT_EQ(batch.pages[1].document, "");
  store.AppendPreparedPages(batch, window);
  EXPECT_EQ(store.pages[0].document, "Report.docx");
}

TEST_F(Store, PageFilesLoadInJobAndPageOrder) {
  for (const char *n :
       {"10-0001.emf", "2-0001.emf", "1-10000.emf", "1-9999.emf", "1-0010.emf", "1-0002.emf", "odd.emf"})
    putFile(n, MakeEmf(100, 100));
  append();
  EXPECT_EQ(names(), (std::vector<std::string>{"1-0002.emf", "1-0010.emf", "1-9999.emf", "1-10000.emf", "2-0001.emf",
                                               "10-0001.emf", "odd.emf"}));
}

TEST_F(Store, AFileThatIsNotAMetafileBecomesAPageWithoutOne) {
  putFile("1-0001.emf", std::vector<uint8_t>(300, 0x33));
  putFile("1-0002.emf", MakeEmf());
  load();
  ASSERT_EQ(store.pageCount(), 2);
  EXPECT_FALSE(store.pages[0].metafile);
  EXPECT_TRUE(store.pages[1].metafile);
  EXPECT_FALSE(store.pages[0].thumbnail.isNull());
  EXPECT_EQ(store.currentPage, 0);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0], "DeleteEnhMetaFile(lvHemfTmp) == 0 !! Error 010004");
  EXPECT_FALSE(QFileInfo::exists(work() + "1-0001.emf"));
}

namespace {

// Makes a file that cannot be deleted: immutable for root (who may delete anything in any folder), else its folder
// read-only. Returns what to undo, or nothing when this machine allows neither.
std::function<void()> Undeletable(const QString &file) {
  if (geteuid() != 0) {
    const QString folder = QFileInfo(file).absolutePath();
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    return [folder] {
      QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    };
  }
  const auto setImmutable = [file](bool on) {
    const int fd = ::open(file.toLocal8Bit().constData(), O_RDONLY);
    if (fd < 0)
      return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return ok;
  };
  if (!setImmutable(true))
    return {};
  return [setImmutable] { setImmutable(false); };
}

} // namespace

TEST_F(Store, APageFileThatCannotBeDeletedIsLoadedOnceWithOneMessage) {
  putFile("1-0001.emf", MakeEmf());
  const auto undo = Undeletable(work() + "1-0001.emf");
  if (!undo)
    GTEST_SKIP() << "this file system keeps no file from being deleted";
  load();
  load();
  load();
  // A new page file beside it is loaded as usual.
  undo();
  EXPECT_EQ(store.pageCount(), 1);
  ASSERT_EQ(window.messages.size(), 1u);
  EXPECT_EQ(window.messages[0], "DeleteFile(iiiTmp) == 0 !! Error 010005");
  EXPECT_TRUE(QFileInfo::exists(work() + "1-0001.emf"));
  putFile("2-0001.emf", MakeEmf());
  load();
  EXPECT_EQ(names(), (std::vector<std::string>{"1-0001.emf", "2-0001.emf"}));
  // Once the file is another one (a new job under that name), it is loaded again.
  putFile("1-0001.emf", MakeEmf(100, 100));
  load();
  EXPECT_EQ(store.pageCount(), 3);
}

TEST_F(Store, AStoppedPreparationLeavesTheRestForLater) {
  putFile("1-0001.emf", MakeEmf());
  putFile("1-0002.emf", MakeEmf());
  std::atomic<bool> stop{true};
  EXPECT_TRUE(PageStore::PrepareNewPages(&stop).pages.empty());
  EXPECT_EQ(QDir(work()).entryList({"*.emf"}).size(), 2);
  stop = false;
  const PreparedPages batch = PageStore::PrepareNewPages(&stop);
  ASSERT_EQ(batch.pages.size(), 2u);
  EXPECT_EQ(batch.pages[1].name, "1-0002.emf");
  EXPECT_TRUE(QDir(work()).entryList({"*.emf"}).isEmpty());
}

TEST_F(Store, ClearingForgetsEverythingAndTheNextPageIsCurrentAgain) {
  putFile("1-0001.emf", MakeEmf(210, 297, 1));
  putFile("1-0002.emf", MakeEmf(210, 297, 2));
  load();
  window.calls.clear();
  store.ClearPageList(window);
  EXPECT_EQ(store.pageCount(), 0);
  EXPECT_EQ(store.currentPage, -1);
  EXPECT_EQ(window.calls,
            (std::vector<std::string>{"setStripScrollOffset(0)", "setStripScrollRange(0,20,redraw)",
                                      "setStripScrollPos(0,redraw)", "repaintPreview(erase)", "repaintStrip(erase)"}));
  putFile("2-0001.emf", MakeEmf(297, 210, 3));
  load();
  ASSERT_EQ(store.pageCount(), 1);
  EXPECT_EQ(store.currentPage, 0);
  EXPECT_EQ(store.pages[0].thumbY, (140 - store.pages[0].thumbH) / 2 + 10 + 5);
  EXPECT_EQ(window.scrollMax, 10);
}

TEST_F(Store, RebuildKeepsTheOldThumbnailsUntilTheNewOnesComeAndAppliesRotation) {
  putCorpusPage("1-0001.emf", "deping-example.emf");
  load();
  ASSERT_EQ(store.pageCount(), 1);
  const PageRecord before = store.pages[0];
  // Rotated by 90 degrees: the rotate command has given the page the rotated place already.
  store.pages[0].rotation = 90.0;
  std::swap(store.pages[0].thumbW, store.pages[0].thumbH);
  const QRect place(store.pages[0].thumbX, store.pages[0].thumbY, store.pages[0].thumbW, store.pages[0].thumbH);
  const std::vector<ThumbnailRequest> requests = store.RebuildThumbnails();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rotation, 90.0);
  EXPECT_EQ(store.pages[0].thumbnail.size(), before.thumbnail.size()); // the old one shows meanwhile
  window.calls.clear();
  makeThumbnails(requests);
  const PageRecord &after = store.pages[0];
  EXPECT_EQ(after.thumbnail.width(), before.thumbnail.height());
  EXPECT_EQ(after.thumbnail.height(), before.thumbnail.width());
  EXPECT_EQ(QRect(after.thumbX, after.thumbY, after.thumbW, after.thumbH), place);
  EXPECT_EQ(window.calls, (std::vector<std::string>{"repaintStripRect(erase)"}));
  store.ReleasePages();
  EXPECT_FALSE(store.pages[0].metafile);
}

TEST(PageListTest, GrowsFarBeyondAThousandAndErasesInPlace) {
  PageList list;
  for (int i = 0; i < 30000; ++i) {
    PageRecord r;
    r.name = std::to_string(i);
    ASSERT_TRUE(list.push_back(std::move(r)));
  }
  EXPECT_EQ(list.size(), 30000u);
  EXPECT_EQ(list[29999].name, "29999");
  list.erase(1024); // across a chunk boundary
  EXPECT_EQ(list.size(), 29999u);
  EXPECT_EQ(list[1023].name, "1023");
  EXPECT_EQ(list[1024].name, "1025");
  EXPECT_EQ(list.back().name, "29999");
  auto it = list.erase(list.begin());
  EXPECT_EQ(it->name, "1");
  size_t n = 0;
  for (const PageRecord &r : list)
    n += !r.name.empty();
  EXPECT_EQ(n, 29998u);
  list.erase(50000); // past the end: nothing
  EXPECT_EQ(list.size(), 29998u);
  list.clear();
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.begin(), list.end());
}

TEST(PageListTest, RecordsStayPutWhileAnotherThreadReads) {
  // The export worker reads the list while the GUI thread appends captured pages.
  PageList list;
  std::atomic<bool> done{false};
  std::atomic<long> bad{0};
  std::atomic<bool> started{false};
  std::thread reader([&] {
    while (!done.load()) {
      started = true;
      const size_t n = list.size();
      for (size_t i = n > 64 ? n - 64 : 0; i < n; ++i)
        if (list[i].name != std::to_string(i) || list[i].thumbW != int(i))
          ++bad;
    }
  });
  while (!started.load())
    std::this_thread::yield();
  for (int i = 0; i < 200000; ++i) {
    PageRecord r;
    r.name = std::to_string(i);
    r.thumbW = i;
    list.push_back(std::move(r));
  }
  done = true;
  reader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(list.size(), 200000u);
}
