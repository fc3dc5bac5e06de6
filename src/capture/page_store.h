// The captured page store: the pages captured since start, each with its metafile, thumbnail and place in the
// page strip; the current page, the current image and the view state that go with them.
//
// Threads: the page list, the current page and the current image are changed on the GUI thread only. A capture pass
// prepares its pages (loading, file deletion) on the capture worker into a PreparedPages batch, the GUI thread
// appends that batch with AppendPreparedPages (each new page with a placeholder of its expected thumbnail size), and
// the thumbnails are made on the worker and handed back one by one through SetThumbnail.
#pragma once

#include "capture/capture_window.h"
#include "emf/metafile.h"
#include "render/page_source.h"

#include <Magick++.h>
#include <QImage>
#include <QSize>
#include <QString>
#include <array>
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace capture {

// Thumbnail geometry, in strip pixels.
inline constexpr double kThumbnailResolution = 50.0; // dots per inch of the thumbnail render
inline constexpr int kThumbnailBox = 130;            // thumbnails fit inside 130 x 130, aspect ratio kept
inline constexpr int kStripCellHeight = 140;         // the first thumbnail is centred in a cell this high
inline constexpr int kFirstCellOffset = 5;           // ... which starts this far below the client top
inline constexpr int kThumbnailGap = 24;             // from one thumbnail's bottom to the next one's top
inline constexpr int kLabelBandHeight = 22;          // the label band under each thumbnail
inline constexpr int kScrollUnitsPerPage = 10;       // strip scroll range = 0 .. pages x 10
inline constexpr int kEmptyScrollRange = 20;         // strip scroll range with no pages: 0 .. 20

// The two failure messages of loading page files.
inline constexpr const char *kReleaseFailedMessage = "DeleteEnhMetaFile(lvHemfTmp) == 0 !! Error 010004";
inline constexpr const char *kDeleteFailedMessage = "DeleteFile(iiiTmp) == 0 !! Error 010005";

// View state values.
enum ViewState { kViewNothing = 0, kViewPages = 1, kViewImageReady = 2 };

struct PageRecord {
  std::string name;           // page file name as found in the work folder, e.g. "3-0001.emf"; "3-0001.pdf" for a
                              // page of a print job taken from CUPS
  emf::HENHMETAFILE metafile; // in-memory copy of the page; empty when the page file was not a valid metafile, and
                              // for a PDF page
  QImage thumbnail;           // Format_RGB32, thumbW x thumbH; null until the first thumbnail arrives
  int thumbX = 0;             // left edge in strip client coordinates
  int thumbY = 0;             // top edge in strip list coordinates (before scrolling)
  int thumbW = 0;
  int thumbH = 0;
  double rotation = 0.0;          // degrees; 0 when captured
  render::HPDFPAGE pdf = nullptr; // the page of a print job taken from CUPS; empty for a metafile page (after the
                                  // fields above, so records listed field by field need not name it, nor those below)
  uint64_t serial = 0;            // the page's identity for results that arrive later; increasing in list order
  // A thumbnail is being made on the worker: only the one asked for last (this ticket) is taken when it arrives.
  bool thumbnailPending = false;
  uint32_t thumbnailTicket = 0;
  std::string document = {}; // the print job's document name; empty when the job named none

  // What the page is drawn from: its PDF page, else its metafile.
  render::PageSource source() const { return pdf ? render::PageSource(pdf) : render::PageSource(metafile); }
};

// The page list: a growable list of page records whose records never move while pages are appended, so the
// export worker may read pages [0, size()) while the GUI thread appends captured pages. Removing pages (erase,
// clear) moves records and is for the GUI thread when no export runs. Room for kMaxPages pages.
class PageList {
public:
  static constexpr size_t kChunkSize = 1024;
  static constexpr size_t kMaxChunks = 4096;
  static constexpr size_t kMaxPages = kChunkSize * kMaxChunks;

  template <class List, class Value> class Iter {
  public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = PageRecord;
    using difference_type = std::ptrdiff_t;
    using pointer = Value *;
    using reference = Value &;
    Iter() = default;
    Iter(List *l, size_t i) : list_(l), i_(i) {}
    reference operator*() const { return (*list_)[i_]; }
    pointer operator->() const { return &(*list_)[i_]; }
    reference operator[](difference_type n) const { return (*list_)[size_t(difference_type(i_) + n)]; }
    Iter &operator++() {
      ++i_;
      return *this;
    }
    Iter operator++(int) {
      Iter t = *this;
      ++i_;
      return t;
    }
    Iter &operator--() {
      --i_;
      return *this;
    }
    Iter operator--(int) {
      Iter t = *this;
      --i_;
      return t;
    }
    Iter &operator+=(difference_type n) {
      i_ = size_t(difference_type(i_) + n);
      return *this;
    }
    Iter &operator-=(difference_type n) {
      i_ = size_t(difference_type(i_) - n);
      return *this;
    }
    friend Iter operator+(Iter a, difference_type n) { return a += n; }
    friend Iter operator+(difference_type n, Iter a) { return a += n; }
    friend Iter operator-(Iter a, difference_type n) { return a -= n; }
    friend difference_type operator-(const Iter &a, const Iter &b) {
      return difference_type(a.i_) - difference_type(b.i_);
    }
    friend bool operator==(const Iter &a, const Iter &b) { return a.i_ == b.i_; }
    friend auto operator<=>(const Iter &a, const Iter &b) { return a.i_ <=> b.i_; }
    size_t index() const { return i_; }

  private:
    List *list_ = nullptr;
    size_t i_ = 0;
  };
  using iterator = Iter<PageList, PageRecord>;
  using const_iterator = Iter<const PageList, const PageRecord>;

  PageList() = default;
  PageList(const PageList &) = delete;
  PageList &operator=(const PageList &) = delete;

  size_t size() const { return size_.load(std::memory_order_acquire); }
  bool empty() const { return size() == 0; }
  PageRecord &operator[](size_t i) { return chunks_[i / kChunkSize][i % kChunkSize]; }
  const PageRecord &operator[](size_t i) const { return chunks_[i / kChunkSize][i % kChunkSize]; }
  PageRecord &front() { return (*this)[0]; }
  PageRecord &back() { return (*this)[size() - 1]; }
  const PageRecord &back() const { return (*this)[size() - 1]; }
  iterator begin() { return {this, 0}; }
  iterator end() { return {this, size()}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  // Appends a record; false (and nothing appended) when the list is full or memory runs out.
  bool push_back(PageRecord rec);
  // Removes record i; later records move one place toward the front.
  void erase(size_t i);
  iterator erase(iterator it) {
    erase(it.index());
    return {this, it.index()};
  }
  // Removes every record and frees the memory.
  void clear();

private:
  std::array<std::unique_ptr<PageRecord[]>, kMaxChunks> chunks_;
  std::atomic<size_t> size_{0};
};

// A page loaded from the work folder (or taken from a CUPS print job) but not yet in the page list.
struct PreparedPage {
  std::string name;
  emf::HENHMETAFILE metafile;
  QImage thumbnail; // when null, the page waits for its thumbnail with a placeholder of thumbnailSize
  render::HPDFPAGE pdf = nullptr;
  QSize thumbnailSize;  // the size the thumbnail will have
  std::string document; // the print job's document name
};
struct PreparedPages {
  std::vector<PreparedPage> pages;
  std::vector<QString> messages; // failure messages to show, in order
};

// A thumbnail to make off the GUI thread and hand back with PageStore::SetThumbnail.
struct ThumbnailRequest {
  uint64_t serial = 0;
  uint32_t ticket = 0;
  render::PageSource page;
  double rotation = 0.0;
};

class PageStore {
public:
  // Grows as needed (no fixed room of 1,000); tens of thousands of pages work.
  PageList pages;
  int currentPage = -1;        // index into pages, -1 for none
  Magick::Image currentImage;  // the last render of the current page
  QImage currentImageDisplay;  // Format_RGB32 copy of currentImage for painting
  int currentImageKb = 0;      // encoded size of the current image's file, in KB
  QString currentImageProblem; // why the last render of the current page gave no image; empty when it gave one
  std::atomic<int> viewState{kViewNothing};

  int pageCount() const { return static_cast<int>(pages.size()); }
  // Rotation of page i in degrees; 0 for an index outside the list.
  double rotationOf(int pageIndex) const;
  // Makes img the current image with its display copy (made from img when not given), its file size and no problem.
  void setCurrentImage(const Magick::Image &img, QImage display = {}, int fileKb = 0);
  // The current page gave no image: the reason is shown in its place.
  void setCurrentImageProblem(const QString &reason);
  // The index of the page with this serial, -1 when it is gone.
  int indexOfSerial(uint64_t serial) const;

  // Loads every "*.emf" of the work folder (in job and page order) and deletes the file; documentOfJob names the
  // print job of a job number (may be empty). May run on any thread; touches neither the page list nor any window.
  // A page file that cannot be deleted is loaded once and then passed over while it stays the same file. When *stop
  // becomes true it returns early, leaving the files not yet loaded in the work folder for a later pass.
  static PreparedPages PrepareNewPages(const std::atomic<bool> *stop = nullptr,
                                       const std::function<std::string(int job)> &documentOfJob = {});
  // Appends a prepared batch to the page list, places the thumbnails (a page without one gets a placeholder of its
  // expected size), sets the scroll range, makes the first page current when there is no current page (the window
  // renders it), repaints the page information, shows the batch's messages. Returns the thumbnails to make. GUI
  // thread.
  std::vector<ThumbnailRequest> AppendPreparedPages(PreparedPages batch, CaptureWindow &window);
  // Takes a thumbnail made for a request: false (nothing changed) when the page is gone or a newer thumbnail was
  // asked for. A thumbnail of another size than the page's place moves the later pages. GUI thread.
  bool SetThumbnail(uint64_t serial, uint32_t ticket, const QImage &thumbnail, CaptureWindow &window);
  // Asks for a new thumbnail of every page (after a background change); the old ones stay shown and the thumbnail
  // rectangles stay until the new ones arrive.
  std::vector<ThumbnailRequest> RebuildThumbnails();
  // Forgets every page (cancel all documents): count 0, no current page, scroll reset, strip and preview repainted.
  void ClearPageList(CaptureWindow &window);
  // Releases every page's metafile and PDF page (end of the program).
  void ReleasePages();
};

// The process-wide page store. It registers itself as the rasteriser's page rotation source when first used.
PageStore &pageStore();

// The same operations on the process-wide store, under the names the rest of the program uses.
void ClearPageList(CaptureWindow &window);
void ReleasePages();

// Thumbnail of a page: rendered in thumbnail mode at 50 dpi (pageIndex selects the rotation the rasteriser
// applies; pass -1 for none), scaled to fit 130 x 130, rotated by rotation degrees when not 0.
QImage MakeThumbnail(const render::PageSource &page, int pageIndex, double rotation);
// Thumbnail of page i of the process-wide store (its page source and rotation).
QImage MakeThumbnail(int pageIndex);
// The size MakeThumbnail gives a page with rotation 0: its 50 dpi render fitted into 130 x 130.
QSize ExpectedThumbnailSize(const emf::HENHMETAFILE &mf);
// A Format_RGB32 copy of an image's pixels (opaque), rows top to bottom.
QImage BitmapFromImage(const Magick::Image &img);

// The nine-character page suffix: "0000-0000" overwritten from the right by the characters of the page file name
// before ".emf" ("12-0003.emf" gives "0012-0003", "5-0001.emf" gives "0005-0001"; longer job numbers keep their
// last four digits).
std::string PageSuffix(const std::string &pageFileName);

// Where the thumbnail of page `index` goes, given the previous page's rectangle (ignored for index 0).
// x = (clientWidth - w) / 2; first page y = (140 - h) / 2 + clientTop + 5; later y = prevY + prevH + 24.
QRect ThumbnailPlace(int index, int clientWidth, int clientTop, int w, int h, const QRect &previous);

} // namespace capture
