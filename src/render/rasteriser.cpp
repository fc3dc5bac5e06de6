#include "render/rasteriser.h"

#include "emf/player.h"
#include "platform/paths.h"
#include "platform/private_files.h"
#include "render/averaging.h"
#include "render/background.h"
#include "render/encoding.h"
#include "render/image_writer.h"
#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace render {

namespace {

// One render at a time among those that share the current-image file or a PDF document's renderer.
std::mutex &renderMutex() {
  static std::mutex m;
  return m;
}

std::mutex g_stateMutex; // guards the three items below
std::function<double(int)> g_rotationSource;
std::function<void(const std::string &)> g_messageHook;
RenderRecord g_record;

void showMessage(const std::string &text) {
  std::function<void(const std::string &)> hook;
  {
    std::lock_guard lock(g_stateMutex);
    hook = g_messageHook;
  }
  if (hook)
    hook(text);
  else
    std::cerr << text << std::endl;
}

double pageRotation(int pageIndex) {
  std::function<double(int)> source;
  {
    std::lock_guard lock(g_stateMutex);
    source = g_rotationSource;
  }
  return source ? source(pageIndex) : 0.0;
}

// Writes the page to the current-image file, readable by its owner only. The image library's exceptions are what
// callers already handle for a file that cannot be written.
void writeCurrentImage(const Magick::Image &image, FormatCode format, const std::string &path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0)
    throw Magick::ErrorFileOpen(path + ": " + std::strerror(errno));
  platform::restrictToOwner(path);
  std::string why = EncodeImageToFd(image, format, fd);
  if (::close(fd) != 0 && why.empty())
    why = std::strerror(errno);
  if (!why.empty())
    throw Magick::ErrorFileOpen(path + ": " + why);
}

// Processor time of the calling thread, in milliseconds between laps: what the render itself costs, whatever
// else the machine is busy with.
class Stopwatch {
public:
  double lap() {
    const double now = ThreadCpuMilliseconds();
    const double ms = now - last_;
    last_ = now;
    return ms;
  }

private:
  double last_ = ThreadCpuMilliseconds();
};

constexpr double kInchPerHundredthMm = 0.0003937007874015748;

// Image pixels are four 16-bit samples blue, green, red, opacity here, the order of the band's bytes.
static_assert(sizeof(Quantum) == 2 && sizeof(Magick::PixelPacket) == 8);
static_assert(offsetof(Magick::PixelPacket, blue) == 0 && offsetof(Magick::PixelPacket, green) == 2 &&
              offsetof(Magick::PixelPacket, red) == 4 && offsetof(Magick::PixelPacket, opacity) == 6);

// 32-bit band pixels (blue, green, red, unused) into one row of image pixels, opaque.
void copyRow(const uint8_t *src, Magick::PixelPacket *dst, long long cols) {
  widenRow(src, reinterpret_cast<uint16_t *>(dst), cols);
}

// 32-bit band pixels (blue, green, red, unused) into one row of an 8-bit page: red, green, blue.
void narrowRow(const uint8_t *__restrict src, uint8_t *__restrict dst, long long cols) {
  for (long long x = 0; x < cols; ++x) {
    dst[3 * x] = src[4 * x + 2];
    dst[3 * x + 1] = src[4 * x + 1];
    dst[3 * x + 2] = src[4 * x];
  }
}

// Draws a PDF page into the bands of a render. The renderer draws a slice of whole bands at a time (as many as
// kPdfSlicePixels allow), and each band takes its rows from the slice; a band wider than the limit is drawn in
// tiles. On white paper the rows are copied; over another background the page, drawn on transparent paper, is
// laid over the band's background.
class PdfBands {
public:
  PdfBands(const PdfPage &page, double dpi, long long width, long long totalRows, int bandRows, bool transparent)
      : page_(page), dpi_(dpi), width_(int(width)), totalRows_(totalRows), transparent_(transparent) {
    const long long bandPixels = width * bandRows;
    if (bandPixels <= kPdfSlicePixels) {
      sliceRows_ =
          int(std::min<long long>(kPdfSlicePixels / bandPixels, (totalRows + bandRows - 1) / bandRows) * bandRows);
      tileWidth_ = width_;
    } else {
      sliceRows_ = bandRows;
      tileWidth_ = int(std::max<long long>(kPdfSlicePixels / bandRows, 1));
    }
  }

  // Draws the page's supersampled rows top .. top + h - 1 onto rows 0 .. h - 1 of band. False when the renderer
  // gives nothing.
  bool draw(QImage &band, int top, int h) {
    if (tileWidth_ < width_)
      return drawTiles(band, top, h);
    if (slice_.isNull() || top < sliceTop_ || top + h > sliceTop_ + slice_.height()) {
      slice_ = QImage(); // the old slice goes before the new one is made
      sliceTop_ = top;
      const int rows = int(std::min<long long>(sliceRows_, totalRows_ - top));
      slice_ = page_.renderRegion(dpi_, QRect(0, top, width_, rows), transparent_);
      if (slice_.isNull())
        return false;
    }
    put(band, 0, slice_, top - sliceTop_, h);
    return true;
  }

private:
  bool drawTiles(QImage &band, int top, int h) {
    for (int x = 0; x < width_; x += tileWidth_) {
      const QImage tile = page_.renderRegion(dpi_, QRect(x, top, std::min(tileWidth_, width_ - x), h), transparent_);
      if (tile.isNull())
        return false;
      put(band, x, tile, 0, h);
    }
    return true;
  }

  // Rows from .. from + h - 1 of src onto the band at column x.
  void put(QImage &band, int x, const QImage &src, int from, int h) {
    if (transparent_) {
      QPainter p(&band);
      p.setCompositionMode(QPainter::CompositionMode_SourceOver);
      p.drawImage(QPoint(x, 0), src, QRect(0, from, src.width(), h));
      return;
    }
    const size_t bytes = size_t(src.width()) * 4;
    for (int r = 0; r < h; ++r)
      std::memcpy(band.scanLine(r) + size_t(x) * 4, src.constScanLine(from + r), bytes);
  }

  const PdfPage &page_;
  double dpi_;
  int width_;
  long long totalRows_;
  bool transparent_;
  int sliceRows_ = 0;
  int tileWidth_ = 0;
  QImage slice_;
  int sliceTop_ = 0;
};

// Rows of the image written per pixel-cache request.
long long chunkRows(long long cols, long long remaining) {
  return std::clamp<long long>((1LL << 18) / std::max<long long>(cols, 1), 1, remaining);
}

} // namespace

double ThreadCpuMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

PageSize OutputSize(const emf::RECTL &frame, double resolution, int scalePercent) {
  return OutputSize(double(frame.right) - double(frame.left), double(frame.bottom) - double(frame.top), resolution,
                    scalePercent);
}

PageSize OutputSize(double W, double H, double resolution, int scalePercent) {
  const double r = resolution > 0 ? resolution : 72.0;
  const double s = scalePercent * 0.01;
  W = std::trunc(W * s);
  H = std::trunc(H * s);
  PageSize size;
  const double cols = std::ceil(W * r * kInchPerHundredthMm);
  const double rows = std::ceil(H * r * kInchPerHundredthMm);
  // Out-of-range sizes become 0 (nothing to draw) rather than undefined conversions.
  size.cols = (cols >= 1 && cols < 1e15) ? (long long)cols : 0;
  size.rows = (rows >= 1 && rows < 1e15) ? (long long)rows : 0;
  return size;
}

BandPlan PlanBands(long long rows, int factor, bool thumbnail) {
  BandPlan plan;
  plan.S = (factor >= 2 && !thumbnail) ? std::min(factor, 20) : 1;
  if (plan.S == 1) {
    plan.K = plan.B = 200;
    plan.n = int(std::floor(double(rows) * 0.005)) + 1;
    plan.lastHeight = int(rows - 200LL * (plan.n - 1));
    return plan;
  }
  const int S = plan.S;
  plan.K = S < 4 ? 200 : S < 6 ? 100 : S < 8 ? 80 : S < 10 ? 60 : S < 12 ? 40 : 20;
  plan.B = plan.K * S;
  plan.n = int((rows * S) / plan.B) + 1;
  plan.lastHeight = int(rows * S - (long long)plan.B * (plan.n - 1));
  return plan;
}

long long FormatSideLimit(FormatCode code) {
  switch (code) {
  case FormatJPG:
    return 65500; // the JPEG coder's largest dimension
  case FormatGIF:
    return 65535; // 16-bit sizes in the file
  default:
    return kMaxOutputSide;
  }
}

std::string EncoderRefusal(long long cols, long long rows, int outputMode, const Settings &s,
                           const std::optional<std::string> &pdfFormat) {
  std::optional<FormatCode> code;
  std::string name;
  if (outputMode == 0) {
    code = DefaultFormat(s);
  } else if (outputMode == 1) {
    name = pdfFormat ? *pdfFormat : StoredPdfBitmapFormat();
    code = name == "JPG" ? FormatJPG : name == "GIF" ? FormatGIF : std::optional<FormatCode>{};
  } else if (outputMode == 3) {
    code = FormatGIF;
  }
  if (!code)
    return {};
  const long long limit = FormatSideLimit(*code);
  if (cols <= limit && rows <= limit)
    return {};
  if (name.empty())
    name = std::string(FormatExtension(*code) + 1);
  for (char &c : name)
    c = char(std::toupper(static_cast<unsigned char>(c)));
  return "The page is too large for the " + name + " format: " + std::to_string(cols) + " x " + std::to_string(rows) +
         " pixels, and " + name + " allows at most " + std::to_string(limit) +
         " pixels a side. Choose a lower resolution or scale, or another format.";
}

std::string CurrentImageFilePath() {
  return platform::workFolder() + "~CurImg" + FormatExtension(DefaultFormat(settings()));
}

void setPageRotationSource(std::function<double(int)> source) {
  std::lock_guard lock(g_stateMutex);
  g_rotationSource = std::move(source);
}

void setRenderMessageHook(std::function<void(const std::string &)> hook) {
  std::lock_guard lock(g_stateMutex);
  g_messageHook = std::move(hook);
}

RenderRecord lastRenderRecord() {
  std::lock_guard lock(g_stateMutex);
  return g_record;
}

namespace {

// The numbers of one render, published when it ends: to the caller's record and as the last render's.
struct RecordPublisher {
  const RenderOptions &options;
  RenderRecord record;
  bool wroteFile = false;
  ~RecordPublisher() {
    std::lock_guard lock(g_stateMutex);
    if (!wroteFile)
      record.fileKb = g_record.fileKb; // the size of the file last written stays known
    g_record = record;
    if (options.record)
      *options.record = record;
  }
};

} // namespace

namespace {

// The format whose options an 8-bit page of this render carries, when it may be one: image files in the default
// format, and PDF page images in a format whose options keep true colour (BMP has none).
std::optional<FormatCode> RgbPageFormat(const RenderOptions &options, const Settings &s) {
  std::optional<FormatCode> code;
  if (options.outputMode == 0) {
    code = DefaultFormat(s);
  } else if (options.outputMode == 1) {
    const std::string name = options.pdfInsideFormat ? *options.pdfInsideFormat : StoredPdfBitmapFormat();
    code = name == "BMP" ? std::optional<FormatCode>(FormatBMP) : PdfInsideOptionFormat(name);
  }
  if (code && !RgbPageSuits(*code, s))
    code.reset();
  return code;
}

// The render of RenderPage; with rgb given, a page that may be an 8-bit page (see RenderPageForWriting) is drawn
// into *rgb and the returned image is empty.
Magick::Image renderPage(double resolution, const PageSource &page, int pageIndex, const RenderOptions &options,
                         RgbPage *rgb) {
  const bool writesFile = !rgb && !options.thumbnail && options.outputMode == 0 && options.currentImageFile;
  std::unique_lock renderLock(renderMutex(), std::defer_lock);
  if (writesFile || page.pdf())
    renderLock.lock();
  RecordPublisher published{options, {}};
  RenderRecord &rec = published.record;
  const Settings s = settings(); // one consistent view of the settings for the whole render
  const bool thumb = options.thumbnail;
  const int f = std::clamp(s.KodAntialias, 0, 20);
  const emf::HENHMETAFILE &mf = page.metafile();
  const PdfPage *pdf = page.pdf().get();
  const bool drawn = mf || pdf;
  const int scale = thumb ? 100 : s.ScaleCur;
  // An 8-bit page is never turned here: its caller turns the page (or does not ask for one).
  const std::optional<FormatCode> rgbFormat = thumb || s.lvSharpen ? std::nullopt : RgbPageFormat(options, s);
  if (!rgbFormat)
    rgb = nullptr;

  long long cols = 250, rows = 200;
  if (drawn) {
    double W = 0, H = 0;
    if (!page.frameSize(W, H))
      return Magick::Image();
    double mmW = 0, mmH = 0;
    page.sizeMm(mmW, mmH);
    rec.widthMm = int(std::clamp(mmW, -2e9, 2e9));
    rec.heightMm = int(std::clamp(mmH, -2e9, 2e9));
    const PageSize size = OutputSize(W, H, resolution, scale);
    cols = size.cols;
    rows = size.rows;
  }
  const BandPlan plan = PlanBands(rows, f, thumb);
  const long long S = plan.S;
  auto fail = [&rec, &rgb](const std::string &why) {
    rec.failure = why;
    if (rgb)
      *rgb = RgbPage{}; // nothing half drawn is handed on
    return Magick::Image();
  };
  // A frame that gives no pixels, or more than any page needs, cannot be drawn.
  if (cols < 1 || rows < 1 || cols > kMaxOutputSide || rows > kMaxOutputSide || cols * rows > kMaxOutputPixels ||
      cols * S > (1LL << 30) / 4 / plan.B)
    return fail("The page's size cannot be drawn: " + std::to_string(cols) + " x " + std::to_string(rows) + " pixels.");
  // A page its format cannot hold is refused before any drawing rather than failing in the encoder at the end.
  if (!thumb) {
    const std::string refusal = EncoderRefusal(cols, rows, options.outputMode, s,
                                               options.outputMode == 1 ? options.pdfInsideFormat : std::nullopt);
    if (!refusal.empty()) {
      showMessage(refusal);
      return fail(refusal);
    }
  }

  Magick::Image image;
  if (rgb) {
    try {
      rgb->samples = std::make_shared_for_overwrite<uint8_t[]>(size_t(cols) * size_t(rows) * 3);
    } catch (const std::bad_alloc &) {
      return fail("The page memory is not available.");
    }
    rgb->columns = size_t(cols);
    rgb->rows = size_t(rows);
  } else {
    image.size(Magick::Geometry(size_t(cols), size_t(rows)));
    image.depth(8);
  }

  BackgroundParams background = BackgroundParams::fromSettings(s, -1, -1, -1, thumb);
  background.m = int(S);

  const size_t bandStride = size_t(cols * S) * 4;
  std::unique_ptr<uint8_t[]> bandMemory;
  try {
    bandMemory = std::make_unique_for_overwrite<uint8_t[]>(bandStride * size_t(plan.B));
  } catch (const std::bad_alloc &) {
    return fail("The band memory is not available."); // the band cannot be made
  }

  // The PDF renderer draws at the supersampled resolution with the scale applied; the page's top-left corner is the
  // image's, and a last part-pixel column or row shows the background.
  std::optional<PdfBands> pdfBands;
  if (pdf)
    pdfBands.emplace(*pdf, (resolution > 0 ? resolution : 72.0) * double(S) * scale * 0.01, cols * S, rows * S, plan.B,
                     background.style < 100);

  if (options.progress)
    options.progress->setRange(0, plan.n);
  BlockAverager averager{int(S), int(cols)};
  double backgroundMs = 0, playMs = 0, averageMs = 0;
  Stopwatch clock;
  std::vector<uint8_t> averaged(size_t(cols) * 4);
  // Every band plays the page again; its bitmaps are prepared once for all of them.
  emf::PlaybackCache playback;

  for (int i = 0; i < plan.n; ++i) {
    const int h = plan.heightOf(i);
    if (h < 1)
      break;
    if (options.abort && options.abort->load())
      return fail("The render was stopped.");
    if (options.progress)
      options.progress->setPosition(i);
    // Every band is drawn in the same memory: fresh memory for each band would cost a page fault per 4 KB.
    QImage band(bandMemory.get(), int(cols * S), h, qsizetype(bandStride), QImage::Format_RGB32);
    if (band.isNull())
      return fail("The band memory is not available.");
    const int a = i * plan.B;
    const QRect pageRect(QPoint(0, -a), QSize(int(cols * S), int(rows * S)));
    {
      QPainter dc(&band);
      if (!dc.isActive())
        return fail("The band memory is not available.");
      clock.lap();
      PaintBackground(dc, pageRect, a, background);
      if (!drawn) {
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(16);
        font.setBold(true);
        dc.setFont(font);
        dc.setPen(Qt::black);
        dc.drawText(pageRect, Qt::AlignCenter | Qt::TextSingleLine, QStringLiteral("This format not supported!"));
      }
    }
    backgroundMs += clock.lap();
    if (drawn) {
      if (pdf) {
        if (!pdfBands->draw(band, a, h))
          return fail("The PDF page cannot be drawn: no memory for its slice.");
      } else {
        emf::PlayEnhMetaFile(band, mf, pageRect, &playback);
      }
      playMs += clock.lap();
      if (s.lvIncludeDateTime && !thumb) {
        QPainter dc(&band);
        DrawDateTimeStamp(dc, pageRect, f);
      }
      backgroundMs += clock.lap();
    }

    const uint8_t *bits = band.constBits();
    const long long stride = band.bytesPerLine();
    if (rgb) {
      const long long y0 = (long long)plan.K * i;
      const long long outRows = S == 1 ? h : h / S;
      for (long long r = 0; r < outRows && y0 + r < rows; ++r) {
        if (S == 1) {
          narrowRow(bits + r * stride, rgb->row(size_t(y0 + r)), cols);
        } else {
          averager.averageRow(bits + r * S * stride, stride, averaged.data());
          narrowRow(averaged.data(), rgb->row(size_t(y0 + r)), cols);
        }
      }
    } else if (S == 1) {
      const long long y0 = 200LL * i;
      for (long long done = 0; done < h;) {
        const long long count = chunkRows(cols, h - done);
        Magick::PixelPacket *q = image.setPixels(0, ssize_t(y0 + done), size_t(cols), size_t(count));
        if (!q)
          break; // the rest of this band is skipped
        for (long long r = 0; r < count; ++r)
          copyRow(bits + (done + r) * stride, q + r * cols, cols);
        image.syncPixels();
        done += count;
      }
    } else {
      const long long y0 = (long long)plan.K * i;
      const long long outRows = h / S;
      for (long long done = 0; done < outRows;) {
        const long long count = chunkRows(cols, outRows - done);
        Magick::PixelPacket *q = image.setPixels(0, ssize_t(y0 + done), size_t(cols), size_t(count));
        if (!q) {
          showMessage("q == (PixelPacket *) NULL");
          break;
        }
        for (long long r = 0; r < count; ++r) {
          averager.averageRow(bits + (done + r) * S * stride, stride, averaged.data());
          copyRow(averaged.data(), q + r * cols, cols);
        }
        image.syncPixels();
        done += count;
      }
    }
    averageMs += clock.lap();
  }

  // The rotation is looked up once, when the page is drawn.
  std::optional<double> angle;
  if (rgb) {
    angle = pageRotation(pageIndex);
    if (*angle == 0) {
      SetRgbPageOptions(*rgb, *rgbFormat, s, resolution);
      rec.backgroundMs = backgroundMs;
      rec.playMs = playMs;
      rec.averageMs = averageMs;
      rec.finishMs = clock.lap();
      return image;
    }
    // A turned page is turned by the image library.
    image = RenderedPage(std::move(*rgb)).magick();
    *rgb = RgbPage{};
  }
  // Sharpening makes new colours, so it comes before the format options reduce them to the chosen count.
  if (s.lvSharpen)
    image.sharpen(2.0, 0.9);
  ApplyFormatOptions(image, options.outputMode, s, options.outputMode == 1 ? options.pdfInsideFormat : std::nullopt);
  image.resolutionUnits(MagickCore::PixelsPerInchResolution);
  const double d = resolution > 0 ? std::trunc(std::min(resolution, 1e6)) : 0.0;
  image.density(Magick::Geometry(size_t(d), size_t(d)));
  if (!thumb) {
    const std::string path = platform::workFolder() + "~CurImg" + FormatExtension(DefaultFormat(s));
    if (!angle)
      angle = pageRotation(pageIndex);
    if (*angle != 0)
      image.rotate(*angle);
    if (writesFile) {
      QDir().mkpath(QString::fromStdString(platform::workFolder()));
      writeCurrentImage(image, DefaultFormat(s), path);
      // The pixels are let go before the file is read back, so the page is never held twice; the image keeps its
      // options (format choices an export writes it with again).
      image.crop(Magick::Geometry(1, 1));
      image.read(path);
      const QFileInfo info(QString::fromStdString(path));
      rec.fileKb = int(info.size() >> 10);
      published.wroteFile = true;
    }
  }
  rec.backgroundMs = backgroundMs;
  rec.playMs = playMs;
  rec.averageMs = averageMs;
  rec.finishMs = clock.lap();
  return image;
}

} // namespace

Magick::Image RenderPage(double resolution, const PageSource &page, int pageIndex, const RenderOptions &options) {
  return renderPage(resolution, page, pageIndex, options, nullptr);
}

RenderedPage RenderPageForWriting(double resolution, const PageSource &page, double angle,
                                  const RenderOptions &options) {
  RenderOptions o = options;
  o.currentImageFile = false;
  RgbPage rgb;
  Magick::Image image = renderPage(resolution, page, -1, o, angle == 0 ? &rgb : nullptr);
  if (!rgb.empty())
    return RenderedPage(std::move(rgb));
  if (!o.thumbnail && angle != 0 && image.isValid() && image.columns() > 0)
    image.rotate(angle);
  return RenderedPage(std::move(image));
}

} // namespace render
