// fxrender: renders EMF files and the pages of EMF spool files through the program's own rasteriser and image
// encoding, for batch work and measurement. Settings come from the options only; the user's registry is never
// touched.

#include "settings/settings.h"
#include "capture/spool_extractor.h"
#include "emf/metafile.h"
#include "pdf/image_document.h"
#include "render/encoding.h"
#include "render/image_library.h"
#include "render/rasteriser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const char *kUsage =
    "Usage: fxrender [options] FILE...\n"
    "Renders every page of each FILE (an EMF file or an EMF spool file) to an image file, or all pages into\n"
    "one PDF, exactly as the Folvex program renders and encodes them.\n"
    "\n"
    "Options:\n"
    "  --dpi N              resolution in pixels per inch (default 100)\n"
    "  --scale PERCENT      scale of the page in percent, 1..1000 (default 100)\n"
    "  --aa FACTOR          antialiasing factor: 0 (none) or 2..20 (default 3)\n"
    "  --format FMT         image format: jpg, gif, png, bmp or tif (default jpg)\n"
    "  --background STYLE   none, solid, or a pattern 0..5 (default none)\n"
    "  --stamp              draw the date and time stamp\n"
    "  --sharpen            sharpen the pages\n"
    "  --out DIR            folder for the output files (default: the current folder)\n"
    "  --pdf FILE           write all pages into one PDF instead of image files\n"
    "  --pdf-format FMT     format of the page images inside the PDF: bmp, gif, jpg, tif, png (default bmp)\n"
    "  --help               show this text\n"
    "\n"
    "Output files are named by the input's base name, for spool pages \"-\" and the four-digit page number,\n"
    "and the format's extension. One line per page gives the file, the page, the size in pixels, and the\n"
    "milliseconds of processor time spent drawing (background, playback, averaging) and encoding.\n"
    "Image format options are the defaults: JPG quality 90 progressive, GIF 64 colours interlaced, PNG true\n"
    "colour interlaced, TIF true colour with LZW compression.\n";

struct Options {
  double dpi = 100;
  int scale = 100;
  int aa = 3;
  render::FormatCode format = render::FormatJPG;
  int background = 100;
  bool stamp = false;
  bool sharpen = false;
  QString outDir = QStringLiteral(".");
  QString pdfFile;
  render::FormatCode pdfFormat = render::FormatBMP;
  std::vector<QString> files;
};

std::optional<render::FormatCode> parseFormat(const std::string &text) {
  static const std::map<std::string, render::FormatCode> formats = {{"jpg", render::FormatJPG},
                                                                    {"gif", render::FormatGIF},
                                                                    {"png", render::FormatPNG},
                                                                    {"bmp", render::FormatBMP},
                                                                    {"tif", render::FormatTIF}};
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  const auto it = formats.find(lower);
  if (it == formats.end())
    return std::nullopt;
  return it->second;
}

std::optional<long> parseInteger(const std::string &text) {
  if (text.empty() || text.size() > 9)
    return std::nullopt;
  char *end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0')
    return std::nullopt;
  return v;
}

// Returns an exit status when the program should end at once (help, or a bad command line).
std::optional<int> parseArguments(const QStringList &args, Options &o) {
  auto fail = [](const std::string &message) {
    std::cerr << "fxrender: " << message << "\n(see fxrender --help)\n";
    return 2;
  };
  for (int i = 1; i < args.size(); ++i) {
    const std::string a = args[i].toStdString();
    auto value = [&](std::string &out) {
      if (i + 1 >= args.size())
        return false;
      out = args[++i].toStdString();
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--dpi") {
      const auto n = value(v) ? parseInteger(v) : std::nullopt;
      if (!n || *n < 1 || *n > 10000)
        return fail("--dpi needs a resolution from 1 to 10000");
      o.dpi = double(*n);
    } else if (a == "--scale") {
      const auto n = value(v) ? parseInteger(v) : std::nullopt;
      if (!n || *n < 1 || *n > 1000)
        return fail("--scale needs a percentage from 1 to 1000");
      o.scale = int(*n);
    } else if (a == "--aa") {
      const auto n = value(v) ? parseInteger(v) : std::nullopt;
      if (!n || *n < 0 || *n > 20)
        return fail("--aa needs a factor from 0 to 20");
      o.aa = int(*n);
    } else if (a == "--format" || a == "--pdf-format") {
      const auto f = value(v) ? parseFormat(v) : std::nullopt;
      if (!f)
        return fail(a + " needs one of jpg, gif, png, bmp, tif");
      (a == "--format" ? o.format : o.pdfFormat) = *f;
    } else if (a == "--background") {
      if (!value(v))
        return fail("--background needs none, solid or 0..5");
      if (v == "none")
        o.background = 100;
      else if (v == "solid")
        o.background = 99;
      else if (const auto n = parseInteger(v); n && *n >= 0 && *n <= 5)
        o.background = int(*n);
      else
        return fail("--background needs none, solid or 0..5");
    } else if (a == "--stamp") {
      o.stamp = true;
    } else if (a == "--sharpen") {
      o.sharpen = true;
    } else if (a == "--out") {
      if (!value(v) || v.empty())
        return fail("--out needs a folder");
      o.outDir = QString::fromStdString(v);
    } else if (a == "--pdf") {
      if (!value(v) || v.empty())
        return fail("--pdf needs a file name");
      o.pdfFile = QString::fromStdString(v);
    } else if (a.size() > 1 && a[0] == '-') {
      return fail("unknown option " + a);
    } else {
      o.files.push_back(args[i]);
    }
  }
  if (o.files.empty())
    return fail("no input file given");
  return std::nullopt;
}

void applySettings(const Options &o) {
  Settings s; // the defaults of a fresh installation
  s.KodAntialias = o.aa;
  s.ScaleCur = o.scale;
  s.lvBkGrHathStyle = o.background;
  s.lvIncludeDateTime = o.stamp;
  s.lvSharpen = o.sharpen;
  s.JPG_Default = o.format == render::FormatJPG;
  s.GIF_Default = o.format == render::FormatGIF;
  s.PNG_Default = o.format == render::FormatPNG;
  s.BMP_Default = o.format == render::FormatBMP;
  s.TIF_Default = o.format == render::FormatTIF;
  s.KodMultipageFormat = o.pdfFile.isEmpty() ? 0 : 1;
  settings() = s;
}

const char *formatName(render::FormatCode code) {
  switch (code) {
  case render::FormatJPG:
    return "JPG";
  case render::FormatGIF:
    return "GIF";
  case render::FormatPNG:
    return "PNG";
  case render::FormatTIF:
    return "TIF";
  default:
    return "BMP";
  }
}

struct Page {
  emf::HENHMETAFILE mf;
  int number = 0; // page number of a spool page, 0 for a plain EMF file
};

bool isSpoolFile(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return false;
  const QByteArray head = f.read(4);
  return head.size() == 4 && uint8_t(head[0]) == 0 && uint8_t(head[1]) == 0 && uint8_t(head[2]) == 1 &&
         uint8_t(head[3]) == 0;
}

// The pages of one input file; false with a message when it cannot be read.
bool loadPages(const QString &path, int jobNumber, std::vector<Page> &pages, std::string &error) {
  if (!QFileInfo(path).isFile()) {
    error = "cannot open the file";
    return false;
  }
  if (!isSpoolFile(path)) {
    std::string reason;
    emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(path.toStdString(), &reason);
    if (!mf) {
      error = "not an EMF or EMF spool file" + (reason.empty() ? std::string() : " (" + reason + ")");
      return false;
    }
    pages.push_back({mf, 0});
    return true;
  }
  if (capture::ExtractSpoolPages(path.toStdString(), jobNumber) == 0) {
    error = "not a readable EMF spool file";
    return false;
  }
  // The extractor leaves one page file per valid page in the work folder: "<job>-0001.emf" and on.
  const QDir work(QString::fromStdString(capture::PageFilePath(jobNumber, 1))
                      .section(QLatin1Char('/'), 0, -2, QString::SectionIncludeLeadingSep));
  const QString prefix = QString::number(jobNumber) + QLatin1Char('-');
  std::map<int, QString> byNumber;
  for (const QString &name : work.entryList({prefix + QStringLiteral("*.emf")}, QDir::Files)) {
    bool ok = false;
    const int n = name.mid(prefix.size(), name.size() - prefix.size() - 4).toInt(&ok);
    if (ok)
      byNumber[n] = work.filePath(name);
  }
  for (const auto &[n, file] : byNumber) {
    emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(file.toStdString());
    QFile::remove(file);
    if (mf)
      pages.push_back({mf, n});
  }
  if (pages.empty()) {
    error = "the spool file holds no page that can be drawn";
    return false;
  }
  return true;
}

QString pageSuffix(int number) {
  return number > 0 ? QStringLiteral("-%1").arg(number, 4, 10, QLatin1Char('0')) : QString();
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  Options o;
  if (const auto status = parseArguments(QCoreApplication::arguments(), o))
    return *status;

  // A private temporary folder holds the current-image file and the spool pages; a private, empty registry
  // folder makes sure nothing of the user's settings is read or written.
  QTemporaryDir work;
  if (!work.isValid()) {
    std::cerr << "fxrender: cannot create a temporary folder\n";
    return 1;
  }
  qputenv("TMPDIR", work.path().toLocal8Bit());
  qputenv("FOLVEX_REGISTRY_DIR", (work.path() + QStringLiteral("/registry")).toLocal8Bit());
  render::InitializeImageLibrary(argv[0]);
  applySettings(o);

  const bool toPdf = !o.pdfFile.isEmpty();
  if (!QDir().mkpath(o.outDir)) {
    std::cerr << "fxrender: cannot create the folder " << o.outDir.toStdString() << "\n";
    return 1;
  }
  const std::string extension = render::FormatExtension(toPdf ? o.pdfFormat : o.format);
  render::RenderOptions ro;
  ro.outputMode = toPdf ? 1 : 0;
  if (toPdf)
    ro.pdfInsideFormat = formatName(o.pdfFormat);

  int status = 0;
  std::vector<std::string> pdfImages;
  for (size_t fi = 0; fi < o.files.size(); ++fi) {
    const QString &file = o.files[fi];
    std::vector<Page> pages;
    std::string error;
    if (!loadPages(file, int(fi) + 1, pages, error)) {
      std::cerr << "fxrender: " << file.toStdString() << ": " << error << "\n";
      status = 1;
      continue;
    }
    const QString base = QFileInfo(file).completeBaseName();
    for (const Page &page : pages) {
      const int shownNumber = page.number > 0 ? page.number : 1;
      try {
        Magick::Image image = render::RenderPage(o.dpi, page.mf, 0, ro);
        const render::RenderRecord rec = render::lastRenderRecord();
        if (image.columns() == 0 || image.rows() == 0) {
          std::cerr << "fxrender: " << file.toStdString() << ": page " << shownNumber
                    << " cannot be rendered (its size is empty or too large)\n";
          status = 1;
          continue;
        }
        QString outPath;
        if (toPdf)
          outPath = work.filePath(QStringLiteral("page-%1").arg(pdfImages.size() + 1, 5, 10, QLatin1Char('0')) +
                                  QString::fromStdString(extension));
        else
          outPath = QDir(o.outDir).filePath(base + pageSuffix(page.number) + QString::fromStdString(extension));
        const double writeStart = render::ThreadCpuMilliseconds();
        image.write(outPath.toStdString());
        const double encodeMs = rec.finishMs + render::ThreadCpuMilliseconds() - writeStart;
        const double drawMs = rec.backgroundMs + rec.playMs + rec.averageMs;
        if (toPdf)
          pdfImages.push_back(outPath.toStdString());
        std::printf("%s\tpage %d\t%zux%zu\tdraw %.1f ms\tencode %.1f ms\t%s\n", file.toLocal8Bit().constData(),
                    shownNumber, image.columns(), image.rows(), drawMs, encodeMs,
                    toPdf ? "(into the PDF)" : outPath.toLocal8Bit().constData());
        std::fflush(stdout);
      } catch (const std::exception &e) {
        std::cerr << "fxrender: " << file.toStdString() << ": page " << shownNumber << ": " << e.what() << "\n";
        status = 1;
      }
    }
  }
  if (toPdf) {
    if (pdfImages.empty()) {
      std::cerr << "fxrender: no page was rendered, no PDF written\n";
      return 1;
    }
    std::string error;
    if (!pdf::WriteImageFilesToPdf(pdfImages, o.pdfFile.toStdString(), &error)) {
      std::cerr << "fxrender: cannot write " << o.pdfFile.toStdString() << ": " << error << "\n";
      return 1;
    }
    std::printf("%s\t%zu pages\n", o.pdfFile.toLocal8Bit().constData(), pdfImages.size());
  }
  return status;
}
