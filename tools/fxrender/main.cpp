// fxrender: renders EMF files, the pages of EMF spool files, and PDF and PostScript documents through the program's
// own rasteriser and image encoding, for batch work and measurement. Settings come from the options only; the
// user's registry is never touched.

#include "capture/job_documents.h"
#include "capture/spool_extractor.h"
#include "emf/metafile.h"
#include "pdf/image_document.h"
#include "platform/paths.h"
#include "render/encoding.h"
#include "render/image_library.h"
#include "render/image_writer.h"
#include "render/rasteriser.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char *kUsage =
    "Usage: fxrender [options] FILE...\n"
    "Renders every page of each FILE (an EMF file, an EMF spool file, a PDF or a PostScript document) to an\n"
    "image file, or all pages into one PDF, exactly as the Folvex program renders and encodes them.\n"
    "\n"
    "Options:\n"
    "  --dpi N              resolution in pixels per inch (default 100)\n"
    "  --scale PERCENT      scale of the page in percent, 1..1000 (default 100)\n"
    "  --aa FACTOR          antialiasing factor: 0 (none) or 2..20 (default 3)\n"
    "  --format FMT         image format: jpg, gif, png, bmp or tif (default jpg)\n"
    "  --background STYLE   none, solid, or a pattern 0..5 (default none)\n"
    "  --stamp              draw the date and time stamp\n"
    "  --sharpen            sharpen the pages\n"
    "  --out DIR            folder for the output files (default: the current folder); it must exist\n"
    "  --pdf FILE           write all pages into one PDF instead of image files; its folder must exist\n"
    "  --pdf-format FMT     format of the page images inside the PDF: bmp, gif, jpg, tif, png (default bmp)\n"
    "  --mkdir              create the --out folder, or the folder of the --pdf file, when it does not exist\n"
    "  --jobs N             pages drawn and encoded at once, 1..64 (default: the number of processors); the\n"
    "                       files are the same whatever the number\n"
    "  -j N                 the same as --jobs N\n"
    "  --strict             with --pdf: write no PDF when any file or page fails (by default the PDF holds\n"
    "                       every page that could be rendered)\n"
    "  --version            show the program's version\n"
    "  --help               show this text\n"
    "\n"
    "Output files are named by the input's base name, for spool, PDF and PostScript pages \"-\" and the\n"
    "four-digit page number, and the format's extension; control characters in the name become \"_\". When an earlier "
    "input of the\n"
    "same run already gave a name, \"-2\", \"-3\" and so on follow the base name, so no output of a run\n"
    "replaces another. A file that already has the name is replaced only once the new one is completely\n"
    "written. One line per page gives the file, the page, the size in pixels, and the\n"
    "milliseconds of processor time spent drawing (background, playback, averaging) and encoding.\n"
    "Exit status: 0 when every page was written, 1 when a file or page failed (the others are still\n"
    "written), 2 for a bad command line.\n"
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
  bool mkdir = false;
  bool strict = false;
  int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 64u));
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
    } else if (a == "--version") {
      std::cout << "fxrender " FOLVEX_VERSION "\n";
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
      if (!n || *n < 0 || *n == 1 || *n > 20)
        return fail("--aa needs 0 (none) or a factor from 2 to 20");
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
    } else if (a == "-j" || a == "--jobs") {
      const auto n = value(v) ? parseInteger(v) : std::nullopt;
      if (!n || *n < 1 || *n > 64)
        return fail(a + " needs a number of workers from 1 to 64");
      o.jobs = int(*n);
    } else if (a == "--stamp") {
      o.stamp = true;
    } else if (a == "--sharpen") {
      o.sharpen = true;
    } else if (a == "--mkdir") {
      o.mkdir = true;
    } else if (a == "--strict") {
      o.strict = true;
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

// A name as it can be shown on a terminal: control characters written as \n, \t, \r or \xHH.
std::string shown(const QString &name) {
  std::string out;
  for (const char c : name.toLocal8Bit().toStdString()) {
    const auto u = static_cast<unsigned char>(c);
    if (u == '\n')
      out += "\\n";
    else if (u == '\t')
      out += "\\t";
    else if (u == '\r')
      out += "\\r";
    else if (u < 0x20 || u == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else
      out += c;
  }
  return out;
}

// The first bytes of a file, printable characters as they are and the others as \xHH.
std::string startOf(const QByteArray &head) {
  std::string out;
  for (const char c : head.left(12)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    }
  }
  return "\"" + out + "\"";
}

// A file name without control characters: each becomes "_".
QString withoutControls(QString name) {
  for (QChar &c : name)
    if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
      c = QLatin1Char('_');
  return name;
}

// The permission bits a newly created file gets from this process.
mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A file written under a temporary name in its folder and renamed to its name once everything reached the disk,
// so a file that had the name stays whole when writing fails (a full disk, a lost device). The bytes go to the
// disk as they come. Errors carry the system's text, such as "No space left on device".
class WholeFile {
public:
  explicit WholeFile(const QString &path) {
    // Through a link the file the link points to is replaced, as writing the name itself would; an existing file
    // keeps its permissions.
    QFileInfo info(path);
    if (info.isSymLink() && !info.canonicalFilePath().isEmpty())
      info = QFileInfo(info.canonicalFilePath());
    target_ = QFile::encodeName(info.filePath()).toStdString();
    struct stat st {};
    static const mode_t defaultMode = newFileMode();
    mode_ = ::stat(target_.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 07777) : defaultMode;
    temp_ = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName().left(200)).toStdString() +
            ".XXXXXX";
    fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
    if (fd_ < 0)
      error_ = errno;
  }
  ~WholeFile() {
    if (fd_ >= 0) {
      ::close(fd_);
      ::unlink(temp_.c_str());
    }
  }
  WholeFile(const WholeFile &) = delete;
  WholeFile &operator=(const WholeFile &) = delete;

  bool write(const void *data, size_t size) {
    const auto *p = static_cast<const char *>(data);
    for (size_t done = 0; fd_ >= 0 && error_ == 0 && done < size;) {
      const ssize_t n = ::write(fd_, p + done, size - done);
      if (n < 0 && errno == EINTR)
        continue;
      if (n <= 0)
        error_ = n < 0 ? errno : ENOSPC;
      else
        done += size_t(n);
    }
    return fd_ >= 0 && error_ == 0;
  }
  // Gives the file its name; false with the reason in *error.
  bool commit(std::string *error) {
    if (fd_ >= 0 && error_ == 0 && (::fchmod(fd_, mode_) != 0 || ::fsync(fd_) != 0))
      error_ = errno;
    if (fd_ >= 0 && error_ == 0) {
      const int fd = fd_;
      fd_ = -1;
      if (::close(fd) != 0 || ::rename(temp_.c_str(), target_.c_str()) != 0) {
        error_ = errno;
        ::unlink(temp_.c_str());
      }
    }
    if (error_ != 0)
      *error = std::strerror(error_);
    return error_ == 0;
  }
  // The reason of a failed write so far (empty when none).
  std::string failure() const { return error_ != 0 ? std::strerror(error_) : std::string(); }

private:
  std::string target_, temp_;
  mode_t mode_ = 0644;
  int fd_ = -1;
  int error_ = 0;
};

// A folder the output goes into: it must exist (or be made with --mkdir) and be a folder.
bool checkFolder(const QString &folder, bool make, const char *what) {
  const QFileInfo info(folder);
  if (info.exists() && !info.isDir()) {
    std::cerr << "fxrender: the " << what << " " << shown(folder) << " is not a folder\n";
    return false;
  }
  if (!info.exists()) {
    if (!make) {
      std::cerr << "fxrender: the " << what << " " << shown(folder) << " does not exist (give --mkdir to create it)\n";
      return false;
    }
    if (!QDir().mkpath(folder)) {
      std::cerr << "fxrender: cannot create the folder " << shown(folder) << "\n";
      return false;
    }
  }
  return true;
}

struct Page {
  render::PageSource source;
  int number = 0; // page number of a spool, PDF or PostScript page, 0 for a plain EMF file
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
  const QFileInfo info(path);
  if (info.isDir()) {
    error = "is a folder";
    return false;
  }
  if (!info.exists()) {
    error = "no such file";
    return false;
  }
  QFile probe(path);
  if (!info.isFile() || !probe.open(QIODevice::ReadOnly)) {
    error = info.isFile() ? "cannot be read (" + probe.errorString().toStdString() + ")" : "is not a regular file";
    return false;
  }
  const QByteArray head = probe.read(1024);
  probe.close();
  const capture::DocumentKind kind = capture::KindOfDocument(head, std::string());
  if (kind == capture::DocumentKind::Pdf || kind == capture::DocumentKind::PostScript) {
    QString pdfPath = path;
    if (kind == capture::DocumentKind::PostScript) {
      capture::ConvertOptions options;
      options.workFolder = QString::fromStdString(platform::workFolder());
      pdfPath = options.workFolder + QStringLiteral("fxrender-%1.pdf").arg(jobNumber);
      QDir().mkpath(options.workFolder);
      if (!capture::PostScriptToPdf(path, pdfPath, options, &error)) {
        error = "the PostScript document cannot be converted: " + error;
        return false;
      }
    }
    QFile pdf(pdfPath);
    if (!pdf.open(QIODevice::ReadOnly) || pdf.size() > render::PdfPage::kMaxDocumentBytes) {
      error = "cannot read the document";
      return false;
    }
    const std::vector<render::HPDFPAGE> loaded = render::PdfPage::LoadDocument(pdf.readAll(), &error);
    if (pdfPath != path)
      QFile::remove(pdfPath);
    if (loaded.empty())
      return false;
    for (const render::HPDFPAGE &p : loaded)
      pages.push_back({p, p->index() + 1});
    return true;
  }
  if (!isSpoolFile(path)) {
    std::string reason;
    emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(path.toStdString(), &reason);
    if (!mf) {
      // A file that starts like a metafile (a header record) but is damaged says why; anything else says what it
      // starts with.
      if (head.isEmpty())
        error = "not an EMF, spool, PDF or PostScript file: the file is empty";
      else if (head.startsWith(QByteArray("\x01\x00\x00\x00", 4)))
        error = "not a readable EMF file" + (reason.empty() ? std::string() : " (" + reason + ")");
      else
        error = "not an EMF, spool, PDF or PostScript file: starts with " + startOf(head);
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

// One page of the run and what became of it.
struct Task {
  std::string file; // the input's name as shown
  int number = 1;   // the page number as shown
  render::PageSource source;
  QString outPath;
  bool done = false;
  std::string failure; // why the page was not written
  std::string line;    // the page's line of the report
};

// Draws the page, encodes it and writes its file; any thread.
void renderTask(const Task &t, render::RenderOptions ro, double dpi, render::FormatCode format, bool toPdf,
                std::string &failure, std::string &line) {
  try {
    render::RenderRecord rec;
    ro.record = &rec;
    // The page is encoded here, once, rather than through the shared current-image file.
    const render::RenderedPage image = render::RenderPageForWriting(dpi, t.source, 0, ro);
    if (image.empty()) {
      failure = "cannot be rendered (its size is empty or too large)";
      return;
    }
    const double writeStart = render::ThreadCpuMilliseconds();
    WholeFile file(t.outPath);
    const std::string reason =
        render::EncodePage(image, format, [&file](const void *data, size_t n) { return file.write(data, n); });
    std::string why = file.failure();
    if (why.empty() && !reason.empty()) {
      failure = reason;
      return;
    }
    if (!why.empty() || !file.commit(&why)) {
      failure = "cannot write " + shown(t.outPath) + ": " + why;
      return;
    }
    const double encodeMs = rec.finishMs + render::ThreadCpuMilliseconds() - writeStart;
    const double drawMs = rec.backgroundMs + rec.playMs + rec.averageMs;
    char text[160];
    std::snprintf(text, sizeof text, "\tpage %d\t%zux%zu\tdraw %.1f ms\tencode %.1f ms\t", t.number, image.columns(),
                  image.rows(), drawMs, encodeMs);
    line = t.file + text + (toPdf ? std::string("(into the PDF)") : shown(t.outPath)) + "\n";
  } catch (const std::exception &e) {
    failure = e.what();
  }
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
  // The workers share the processors with the image library's own threads (colour reduction, sharpening): each
  // worker gets its share rather than all of them.
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  MagickCore::SetMagickResourceLimit(MagickCore::ThreadResource,
                                     MagickCore::MagickSizeType(std::max(1u, processors / unsigned(o.jobs))));
  applySettings(o);

  const bool toPdf = !o.pdfFile.isEmpty();
  if (toPdf ? !checkFolder(QFileInfo(o.pdfFile).absolutePath(), o.mkdir, "folder of the PDF")
            : !checkFolder(o.outDir, o.mkdir, "output folder"))
    return 1;
  const render::FormatCode format = toPdf ? o.pdfFormat : o.format;
  const std::string extension = render::FormatExtension(format);
  render::RenderOptions ro;
  ro.outputMode = toPdf ? 1 : 0;
  if (toPdf)
    ro.pdfInsideFormat = formatName(o.pdfFormat);

  int status = 0;
  int failedFiles = 0, failedPages = 0;
  std::set<QString> taken; // output file names given in this run
  // Every page of every file, in the order of the command line: the work the renderers share.
  std::vector<Task> tasks;
  for (size_t fi = 0; fi < o.files.size(); ++fi) {
    const QString &file = o.files[fi];
    std::vector<Page> pages;
    std::string error;
    if (!loadPages(file, int(fi) + 1, pages, error)) {
      std::cerr << "fxrender: " << shown(file) << ": " << error << "\n";
      status = 1;
      ++failedFiles;
      continue;
    }
    // The base name of this file's outputs: its own, or, when an earlier input of the run gave one of the names,
    // the first "-2", "-3", ... that gives none.
    const QString ownBase = withoutControls(QFileInfo(file).completeBaseName());
    QString base = ownBase;
    for (int n = 2; !toPdf; ++n) {
      std::vector<QString> names;
      for (const Page &page : pages)
        names.push_back(base + pageSuffix(page.number) + QString::fromStdString(extension));
      if (std::none_of(names.begin(), names.end(), [&](const QString &x) { return taken.count(x) != 0; })) {
        taken.insert(names.begin(), names.end());
        break;
      }
      base = ownBase + QStringLiteral("-%1").arg(n);
    }
    if (base != ownBase)
      std::cerr << "fxrender: " << shown(file) << ": an earlier file of this run has its output names; its pages are "
                << "named " << shown(base) << " instead\n";
    for (Page &page : pages) {
      Task t;
      t.file = shown(file);
      t.number = page.number > 0 ? page.number : 1;
      t.source = std::move(page.source);
      t.outPath = toPdf ? work.filePath(QStringLiteral("page-%1").arg(tasks.size() + 1, 5, 10, QLatin1Char('0')) +
                                        QString::fromStdString(extension))
                        : QDir(o.outDir).filePath(base + pageSuffix(page.number) + QString::fromStdString(extension));
      tasks.push_back(std::move(t));
    }
  }

  // The pages are drawn and encoded by o.jobs workers at once; each page's line is printed in the order of the
  // pages, so the output of a run does not depend on how many workers made it.
  std::mutex printMutex;
  size_t printed = 0;
  std::atomic<size_t> next{0};
  auto printReady = [&] {
    for (; printed < tasks.size() && tasks[printed].done; ++printed) {
      const Task &t = tasks[printed];
      if (!t.failure.empty()) {
        std::cerr << "fxrender: " << t.file << ": page " << t.number << ": " << t.failure << "\n";
        status = 1;
        ++failedPages;
      } else {
        std::fputs(t.line.c_str(), stdout);
        std::fflush(stdout);
      }
    }
  };
  auto worker = [&] {
    for (size_t i = next++; i < tasks.size(); i = next++) {
      Task &t = tasks[i];
      std::string failure, line;
      renderTask(t, ro, o.dpi, format, toPdf, failure, line);
      t.source = render::PageSource(); // the page's drawing is no longer needed
      std::lock_guard lock(printMutex);
      t.failure = std::move(failure);
      t.line = std::move(line);
      t.done = true;
      printReady();
    }
  };
  const int workers = int(std::min<size_t>(size_t(o.jobs), std::max<size_t>(tasks.size(), 1)));
  std::vector<std::thread> threads;
  for (int w = 1; w < workers; ++w)
    threads.emplace_back(worker);
  worker();
  for (std::thread &t : threads)
    t.join();

  std::vector<std::string> pdfImages;
  std::vector<std::string> pdfImagePages; // "file: page n", for the messages about the PDF
  for (const Task &t : tasks)
    if (toPdf && t.failure.empty()) {
      pdfImages.push_back(t.outPath.toStdString());
      pdfImagePages.push_back(t.file + ": page " + std::to_string(t.number));
    }
  if (toPdf) {
    // Every page that could be rendered goes into the PDF, unless --strict asks for all or nothing.
    if (o.strict && (failedFiles > 0 || failedPages > 0)) {
      std::cerr << "fxrender: no PDF written (--strict): " << failedFiles << " file(s) and " << failedPages
                << " page(s) failed\n";
      return 1;
    }
    if (pdfImages.empty()) {
      std::cerr << "fxrender: no page was rendered, no PDF written\n";
      return 1;
    }
    std::string error;
    std::vector<pdf::SkippedImage> skipped;
    if (!pdf::WriteImageFilesToPdf(pdfImages, o.pdfFile.toStdString(), &error, o.strict ? nullptr : &skipped)) {
      std::cerr << "fxrender: cannot write " << shown(o.pdfFile) << ": " << error << "\n";
      return 1;
    }
    for (const pdf::SkippedImage &k : skipped)
      std::cerr << "fxrender: " << pdfImagePages[k.index] << ": left out of the PDF: " << k.message << "\n";
    failedPages += int(skipped.size());
    const size_t placed = pdfImages.size() - skipped.size();
    std::printf("%s\t%zu pages\n", shown(o.pdfFile).c_str(), placed);
    if (failedPages > 0 || failedFiles > 0) {
      std::cerr << "fxrender: the PDF holds " << placed << " page(s); " << failedPages << " page(s)"
                << (failedFiles > 0 ? " and " + std::to_string(failedFiles) + " file(s)" : std::string())
                << " failed and are missing from it\n";
      status = 1;
    }
  }
  return status;
}
