#include "capture/page_store.h"

#include "capture/spool_extractor.h"
#include "platform/paths.h"
#include "render/rasteriser.h"
#include "render/rgb_page.h"
#include "settings/settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>
#include <map>
#include <mutex>
#include <tuple>

namespace capture {

namespace {

// Job and page number of a page file name "<job>-<page>.emf"; false for any other name.
bool parsePageName(const QString &name, qint64 &job, qint64 &page) {
  const int dash = name.indexOf(QLatin1Char('-'));
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  if (dash <= 0 || dot <= dash + 1)
    return false;
  bool ok1 = false, ok2 = false;
  job = name.left(dash).toLongLong(&ok1);
  page = name.mid(dash + 1, dot - dash - 1).toLongLong(&ok2);
  return ok1 && ok2;
}

// The page files of the work folder in job and page order (numerically, so page 10000 follows page 9999);
// names of another shape follow in name order.
QStringList pageFilesInOrder(const QDir &dir) {
  QStringList names = dir.entryList({QStringLiteral("*.emf")}, QDir::Files | QDir::Hidden | QDir::System,
                                    QDir::Name | QDir::IgnoreCase);
  struct Key {
    bool numbered;
    qint64 job, page;
    QString name;
  };
  std::vector<Key> keys;
  keys.reserve(size_t(names.size()));
  for (const QString &n : names) {
    Key k{false, 0, 0, n};
    k.numbered = parsePageName(n, k.job, k.page);
    keys.push_back(std::move(k));
  }
  std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
    if (a.numbered != b.numbered)
      return a.numbered;
    if (a.numbered && (a.job != b.job || a.page != b.page))
      return std::tie(a.job, a.page) < std::tie(b.job, b.page);
    return false; // keep name order
  });
  QStringList out;
  out.reserve(names.size());
  for (const Key &k : keys)
    out.push_back(k.name);
  return out;
}

QImage blankThumbnail() {
  QImage img(kThumbnailBox, kThumbnailBox, QImage::Format_RGB32);
  img.fill(Qt::white);
  return img;
}

int outputMode() { return settings().KodMultipageFormat; }

// Page files that could not be deleted once loaded, with what they were then (size, last write): they stay in the
// work folder, and loading them again on every pass would add the same page again and again.
class UndeletableFiles {
public:
  bool contains(const QFileInfo &fi) {
    std::lock_guard lock(mutex_);
    const auto it = files_.find(fi.fileName());
    return it != files_.end() && it->second == Identity(fi);
  }
  void add(const QFileInfo &fi) {
    std::lock_guard lock(mutex_);
    files_[fi.fileName()] = Identity(fi);
  }

private:
  static std::pair<qint64, qint64> Identity(const QFileInfo &fi) {
    return {fi.size(), fi.lastModified().toMSecsSinceEpoch()};
  }
  std::mutex mutex_;
  std::map<QString, std::pair<qint64, qint64>> files_;
};

UndeletableFiles &undeletable() {
  static UndeletableFiles files;
  return files;
}

// Serials of the pages: never reused, increasing in the order pages are appended.
uint64_t nextSerial() {
  static uint64_t serial = 0;
  return ++serial;
}

} // namespace

// ---- helpers ----

QRect ThumbnailPlace(int index, int clientWidth, int clientTop, int w, int h, const QRect &previous) {
  const int x = (clientWidth - w) / 2;
  const int y = index == 0 ? (kStripCellHeight - h) / 2 + clientTop + kFirstCellOffset
                           : previous.y() + previous.height() + kThumbnailGap;
  return QRect(x, y, w, h);
}

std::string PageSuffix(const std::string &name) {
  std::string label = "0000-0000";
  const long n = static_cast<long>(name.size());
  // Label position p takes name[n - 13 + p]: positions 8..5 are the four digits before ".emf".
  for (int p = 8; p >= 0; --p) {
    const long k = n - 13 + p;
    if (k < 0)
      break;
    label[size_t(p)] = name[size_t(k)];
  }
  return label;
}

QImage BitmapFromImage(const Magick::Image &source) { return render::RenderedPage(source).bitmap(); }

QImage MakeThumbnail(const render::PageSource &page, int pageIndex, double rotation) {
  try {
    render::RenderOptions options;
    options.thumbnail = true;
    options.outputMode = outputMode();
    Magick::Image img = render::RenderPage(kThumbnailResolution, page, pageIndex, options);
    img.scale(Magick::Geometry(kThumbnailBox, kThumbnailBox));
    if (rotation != 0.0)
      img.rotate(rotation);
    QImage out = BitmapFromImage(img);
    return out.isNull() ? blankThumbnail() : out;
  } catch (const std::exception &) {
    // A render the image library refuses still gives the page a thumbnail, so the page can be seen and deleted.
    return blankThumbnail();
  }
}

QImage MakeThumbnail(int pageIndex) {
  PageStore &store = pageStore();
  if (pageIndex < 0 || pageIndex >= store.pageCount())
    return {};
  const PageRecord &p = store.pages[size_t(pageIndex)];
  return MakeThumbnail(p.source(), pageIndex, p.rotation);
}

QSize ExpectedThumbnailSize(const emf::HENHMETAFILE &mf) {
  long long cols = 250, rows = 200; // a page without a metafile renders its notice at this size
  if (mf) {
    emf::ENHMETAHEADER h;
    if (emf::GetEnhMetaFileHeader(mf, sizeof h, &h) == 0)
      return QSize(kThumbnailBox, kThumbnailBox);
    const render::PageSize size = render::OutputSize(h.rclFrame, kThumbnailResolution, 100);
    cols = size.cols;
    rows = size.rows;
  }
  // A page the rasteriser does not draw gets the blank thumbnail.
  if (cols < 1 || rows < 1 || cols > render::kMaxOutputSide || rows > render::kMaxOutputSide ||
      cols * rows > render::kMaxOutputPixels)
    return QSize(kThumbnailBox, kThumbnailBox);
  // The image library's own fitting rule, the one Image::scale applies.
  ssize_t x = 0, y = 0;
  size_t w = size_t(cols), h = size_t(rows);
  MagickCore::ParseMetaGeometry("130x130", &x, &y, &w, &h);
  return QSize(int(w), int(h));
}

// ---- PageList ----

bool PageList::push_back(PageRecord rec) {
  const size_t n = size_.load(std::memory_order_relaxed);
  if (n >= kMaxPages)
    return false;
  auto &chunk = chunks_[n / kChunkSize];
  if (!chunk) {
    try {
      chunk = std::make_unique<PageRecord[]>(kChunkSize);
    } catch (const std::bad_alloc &) {
      return false;
    }
  }
  chunk[n % kChunkSize] = std::move(rec);
  // Published only once the record is complete.
  size_.store(n + 1, std::memory_order_release);
  return true;
}

void PageList::erase(size_t i) {
  const size_t n = size();
  if (i >= n)
    return;
  for (size_t k = i; k + 1 < n; ++k)
    (*this)[k] = std::move((*this)[k + 1]);
  size_.store(n - 1, std::memory_order_release);
  (*this)[n - 1] = PageRecord();
}

void PageList::clear() {
  size_.store(0, std::memory_order_release);
  for (auto &chunk : chunks_)
    chunk.reset();
}

// ---- PageStore ----

double PageStore::rotationOf(int pageIndex) const {
  if (pageIndex < 0 || pageIndex >= pageCount())
    return 0.0;
  return pages[size_t(pageIndex)].rotation;
}

void PageStore::setCurrentImage(const Magick::Image &img, QImage display, int fileKb) {
  currentImage = img;
  currentImageDisplay = display.isNull() ? BitmapFromImage(img) : std::move(display);
  currentImageKb = fileKb;
  currentImageProblem.clear();
}

void PageStore::setCurrentImageProblem(const QString &reason) {
  currentImage = Magick::Image();
  currentImageDisplay = QImage();
  currentImageKb = 0;
  currentImageProblem = reason;
}

int PageStore::indexOfSerial(uint64_t serial) const {
  const auto it = std::lower_bound(pages.begin(), pages.end(), serial,
                                   [](const PageRecord &p, uint64_t s) { return p.serial < s; });
  return it != pages.end() && it->serial == serial ? int(it.index()) : -1;
}

PreparedPages PageStore::PrepareNewPages(const std::atomic<bool> *stop,
                                         const std::function<std::string(int job)> &documentOfJob) {
  PreparedPages batch;
  QDir dir(QString::fromStdString(platform::workFolder()));
  if (!dir.exists())
    return batch;
  const QStringList names = pageFilesInOrder(dir);
  batch.pages.reserve(size_t(names.size()));
  for (const QString &name : names) {
    if (stop && stop->load())
      break;
    const QString path = dir.filePath(name);
    const QFileInfo info(path);
    if (undeletable().contains(info))
      continue; // loaded already; it stays behind
    PreparedPage page;
    page.name = name.toStdString();
    qint64 job = 0, number = 0;
    if (documentOfJob && parsePageName(name, job, number) && job > 0 && job <= INT32_MAX)
      page.document = documentOfJob(int(job));
    // A page file that is not a valid metafile becomes a page with an empty metafile.
    emf::HENHMETAFILE opened = emf::GetEnhMetaFileA(path.toStdString());
    page.metafile = emf::CopyEnhMetaFileA(opened, std::string());
    page.thumbnailSize = ExpectedThumbnailSize(page.metafile);
    if (!emf::DeleteEnhMetaFile(opened))
      batch.messages.push_back(QString::fromLatin1(kReleaseFailedMessage));
    if (!QFile::remove(path)) {
      batch.messages.push_back(QString::fromLatin1(kDeleteFailedMessage));
      undeletable().add(info);
    }
    batch.pages.push_back(std::move(page));
  }
  return batch;
}

std::vector<ThumbnailRequest> PageStore::AppendPreparedPages(PreparedPages batch, CaptureWindow &window) {
  std::vector<ThumbnailRequest> requests;
  if (!batch.pages.empty()) {
    const QRect client = window.stripClientRect();
    bool becameCurrent = false;
    for (PreparedPage &prepared : batch.pages) {
      const int index = pageCount();
      PageRecord rec;
      rec.name = std::move(prepared.name);
      rec.document = std::move(prepared.document);
      rec.metafile = std::move(prepared.metafile);
      rec.pdf = std::move(prepared.pdf);
      rec.thumbnail = std::move(prepared.thumbnail);
      rec.serial = nextSerial();
      QSize size = rec.thumbnail.isNull() ? prepared.thumbnailSize : rec.thumbnail.size();
      if (size.isEmpty())
        size = QSize(kThumbnailBox, kThumbnailBox); // no size known: the placeholder fills the box

      const QRect previous =
          index > 0 ? QRect(pages.back().thumbX, pages.back().thumbY, pages.back().thumbW, pages.back().thumbH)
                    : QRect();
      const QRect place = ThumbnailPlace(index, client.width(), client.top(), size.width(), size.height(), previous);
      rec.thumbX = place.x();
      rec.thumbY = place.y();
      rec.thumbW = place.width();
      rec.thumbH = place.height();
      rec.rotation = 0.0;
      rec.thumbnailPending = rec.thumbnail.isNull();
      const ThumbnailRequest request{rec.serial, rec.thumbnailTicket, rec.source(), 0.0};
      if (!pages.push_back(std::move(rec)))
        break; // the list is full: the remaining pages of the batch are dropped
      if (pages.back().thumbnailPending)
        requests.push_back(request);
      if (viewState.load() <= kViewPages)
        viewState.store(kViewPages);

      window.repaintStripRect(QRect(place.x(), place.y(), place.width(), place.height() + kThumbnailGap), true);
      window.setStripScrollRange(0, pageCount() * kScrollUnitsPerPage, false);

      if (currentPage < 0) {
        // The new page becomes current; the window renders it (view state 1 until the image is ready).
        currentPage = index;
        viewState.store(kViewPages);
        becameCurrent = true;
        window.repaintStrip(false);
      }
    }
    if (becameCurrent)
      window.renderCurrentPage();
    // The page count is part of the page information.
    window.repaintPageInfoArea();
  }
  // Messages last: a message box runs its own event loop, and the list is complete by then.
  for (const QString &m : batch.messages)
    window.showMessage(m);
  return requests;
}

bool PageStore::SetThumbnail(uint64_t serial, uint32_t ticket, const QImage &thumbnail, CaptureWindow &window) {
  const int i = indexOfSerial(serial);
  if (i < 0)
    return false;
  PageRecord &p = pages[size_t(i)];
  if (!p.thumbnailPending || p.thumbnailTicket != ticket)
    return false;
  p.thumbnail = thumbnail;
  p.thumbnailPending = false;
  if (thumbnail.width() == p.thumbW && thumbnail.height() == p.thumbH) {
    window.repaintStripRect(QRect(p.thumbX, p.thumbY, p.thumbW, p.thumbH + kThumbnailGap), true);
    return true;
  }
  // Another size than expected: centre it again and move the later pages by the change of height.
  const int shift = thumbnail.height() - p.thumbH;
  p.thumbW = thumbnail.width();
  p.thumbH = thumbnail.height();
  p.thumbX = (window.stripClientRect().width() - p.thumbW) / 2;
  for (size_t k = size_t(i) + 1; k < pages.size(); ++k)
    pages[k].thumbY += shift;
  window.repaintStrip(true);
  return true;
}

std::vector<ThumbnailRequest> PageStore::RebuildThumbnails() {
  std::vector<ThumbnailRequest> requests;
  requests.reserve(pages.size());
  for (PageRecord &p : pages) {
    p.thumbnailPending = true;
    ++p.thumbnailTicket;
    requests.push_back(ThumbnailRequest{p.serial, p.thumbnailTicket, p.source(), p.rotation});
  }
  return requests;
}

void PageStore::ClearPageList(CaptureWindow &window) {
  for (PageRecord &p : pages) {
    emf::DeleteEnhMetaFile(p.metafile);
    p.pdf.reset();
    p.thumbnail = QImage();
  }
  pages.clear();
  currentPage = -1;
  window.setStripScrollOffset(0);
  window.setStripScrollRange(0, kEmptyScrollRange, true);
  window.setStripScrollPos(0, true);
  window.repaintPreview(true);
  window.repaintStrip(true);
}

void PageStore::ReleasePages() {
  for (PageRecord &p : pages) {
    emf::DeleteEnhMetaFile(p.metafile);
    p.pdf.reset();
  }
}

PageStore &pageStore() {
  static PageStore *store = [] {
    static PageStore s;
    render::setPageRotationSource([](int pageIndex) { return s.rotationOf(pageIndex); });
    return &s;
  }();
  return *store;
}

void ClearPageList(CaptureWindow &window) { pageStore().ClearPageList(window); }
void ReleasePages() { pageStore().ReleasePages(); }

} // namespace capture
