#include "view/page_operations.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QSaveFile>
#include <QStandardPaths>
#include <cmath>

namespace view {

double RotatedLeft(double angle) {
  angle -= 90.0;
  if (angle < 0.0)
    angle += 360.0;
  return angle;
}

double RotatedRight(double angle) {
  angle += 90.0;
  if (angle > 360.0)
    angle -= 360.0;
  return angle;
}

// ---- what a page holds: the only place here that looks into a page's metafile ----

std::optional<QByteArray> PageEmfBytes(const capture::PageRecord &page) {
  if (!page.metafile)
    return std::nullopt;
  const auto &bytes = page.metafile->bytes();
  return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

bool PageSizeMm(const capture::PageRecord &page, int &widthMm, int &heightMm) {
  double w = 0, ht = 0;
  if (!page.source().sizeMm(w, ht))
    return false;
  if (!(w >= 1 && ht >= 1 && w < 1e6 && ht < 1e6))
    return false;
  widthMm = int(w);
  heightMm = int(ht);
  return true;
}

QString PageToolTip(const capture::PageRecord &page) {
  // Job and page number from the page's name, "<job>-<page>.<ending>".
  const QString name = QString::fromStdString(page.name);
  const int dash = name.indexOf(QLatin1Char('-'));
  const int dot = name.lastIndexOf(QLatin1Char('.'));
  bool jobOk = false, pageOk = false;
  const qlonglong job = dash > 0 ? name.left(dash).toLongLong(&jobOk) : 0;
  const qlonglong number = dash > 0 && dot > dash ? name.mid(dash + 1, dot - dash - 1).toLongLong(&pageOk) : 0;
  QString document = QString::fromStdString(page.document);
  document.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
  if (document.trimmed().isEmpty())
    document = jobOk ? QStringLiteral("Job %1").arg(job) : name;
  QString details = pageOk ? QStringLiteral("Page %1").arg(number) : QStringLiteral("Page");
  int w = 0, h = 0;
  if (PageSizeMm(page, w, h))
    details += QStringLiteral(", %1 x %2 mm").arg(w).arg(h);
  return QStringLiteral("<p style='white-space:pre'>%1<br>%2</p>").arg(document.toHtmlEscaped(), details);
}

void ReleasePageContent(capture::PageRecord &page) {
  emf::DeleteEnhMetaFile(page.metafile);
  page.pdf.reset();
  page.thumbnail = QImage();
}

// ---- page list operations ----

bool DeletePage(capture::PageStore &store, int i, const std::function<void(int)> &renderCurrent) {
  const int count = store.pageCount();
  if (i < 0 || i >= count)
    return false;
  if (i == store.currentPage) {
    const int next = count == 1 ? -1 : (i + 1 < count ? i + 1 : i - 1);
    store.currentPage = next;
    if (next >= 0 && renderCurrent)
      renderCurrent(next);
  }
  const int d = i + 1 < count ? store.pages[size_t(i + 1)].thumbY - store.pages[size_t(i)].thumbY : 0;
  ReleasePageContent(store.pages[size_t(i)]);
  store.pages.erase(size_t(i));
  for (int k = i; k < store.pageCount(); ++k)
    store.pages[size_t(k)].thumbY -= d;
  if (store.currentPage > i)
    --store.currentPage;
  return true;
}

void SetPageRotation(capture::PageStore &store, int i, double angle, const QRect &stripClient) {
  if (i < 0 || i >= store.pageCount())
    return;
  capture::PageRecord &page = store.pages[size_t(i)];
  page.rotation = angle;
  const int h0 = page.thumbH;
  page.thumbnail = capture::MakeThumbnail(i);
  // A thumbnail still being made elsewhere is of the old angle: it is not taken when it arrives.
  page.thumbnailPending = false;
  ++page.thumbnailTicket;
  page.thumbW = page.thumbnail.width();
  page.thumbH = page.thumbnail.height();
  page.thumbX = (stripClient.width() - page.thumbW) / 2;
  if (i == 0) {
    page.thumbY = stripClient.top() + 10;
  } else {
    const capture::PageRecord &before = store.pages[size_t(i - 1)];
    page.thumbY = before.thumbY + before.thumbH + capture::kThumbnailGap;
  }
  const int shift = page.thumbH - h0;
  for (int k = i + 1; k < store.pageCount(); ++k)
    store.pages[size_t(k)].thumbY += shift;
}

// ---- handing a page out ----

bool PutPageOnClipboard(const QByteArray &emf, const QImage &picture) {
  QClipboard *clipboard = QGuiApplication::clipboard();
  if (!clipboard)
    return false;
  auto *data = new QMimeData;
  data->setData(QStringLiteral("image/emf"), emf);
  data->setData(QStringLiteral("image/x-emf"), emf);
  if (!picture.isNull())
    data->setImageData(picture);
  clipboard->setMimeData(data); // the clipboard owns it from here
  const QMimeData *now = clipboard->mimeData();
  return now && now->data(QStringLiteral("image/emf")) == emf;
}

bool WriteWholeFile(const QString &path, const QByteArray &bytes) {
  if (path.isEmpty())
    return false;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return false;
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

QString SaveStartFolder() {
  for (auto where : {QStandardPaths::PicturesLocation, QStandardPaths::DocumentsLocation}) {
    const QString folder = QStandardPaths::writableLocation(where);
    if (!folder.isEmpty() && QDir(folder).exists())
      return folder;
  }
  return QDir::homePath();
}

} // namespace view
