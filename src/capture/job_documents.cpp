#include "capture/job_documents.h"

#include "capture/image_pdf.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <sys/resource.h>

namespace capture {
namespace {

constexpr qint64 kMaxOutputBytes = render::PdfPage::kMaxDocumentBytes;

QString findProgram(const QString &name) {
  QString p = QStandardPaths::findExecutable(name);
  if (p.isEmpty()) // cupsfilter lives in the administrator's folders, often not on a user's path
    p = QStandardPaths::findExecutable(
        name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/sbin")});
  return p;
}

// Runs a converter with limits on its time, processor time, memory and file size; standard output to a file.
bool runLimited(const QString &program, const QStringList &args, const QString &stdoutFile, const ConvertOptions &o,
                std::string &error) {
  const QString path = findProgram(program);
  if (path.isEmpty()) {
    error = program.toStdString() + " is not installed";
    return false;
  }
  QProcess proc;
  proc.setProgram(path);
  proc.setArguments(args);
  proc.setWorkingDirectory(o.workFolder);
  proc.setStandardInputFile(QProcess::nullDevice());
  proc.setStandardOutputFile(stdoutFile.isEmpty() ? QProcess::nullDevice() : stdoutFile);
  proc.setStandardErrorFile(QProcess::nullDevice());
  const rlim_t cpu = rlim_t(o.timeoutMs / 1000 + 5);
  const rlim_t memory = rlim_t(o.memoryLimit);
  proc.setChildProcessModifier([cpu, memory] {
    const rlimit c{cpu, cpu}, m{memory, memory}, f{rlim_t(kMaxOutputBytes), rlim_t(kMaxOutputBytes)}, core{0, 0};
    setrlimit(RLIMIT_CPU, &c);
    setrlimit(RLIMIT_AS, &m);
    setrlimit(RLIMIT_FSIZE, &f);
    setrlimit(RLIMIT_CORE, &core);
  });
  proc.start();
  if (!proc.waitForStarted(10000)) {
    error = program.toStdString() + " could not be started";
    return false;
  }
  QElapsedTimer clock;
  clock.start();
  while (!proc.waitForFinished(100)) {
    const bool cancelled = o.cancel && o.cancel->load();
    if (cancelled || clock.elapsed() > o.timeoutMs) {
      proc.kill();
      proc.waitForFinished(5000);
      error = cancelled
                  ? program.toStdString() + " was stopped"
                  : program.toStdString() + " took longer than " + std::to_string(o.timeoutMs / 1000) + " seconds";
      return false;
    }
  }
  if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0) {
    error = program.toStdString() + " failed (exit status " + std::to_string(proc.exitCode()) + ")";
    return false;
  }
  return true;
}

bool readLimited(const QString &path, QByteArray &out, std::string &error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    error = "cannot read " + path.toStdString();
    return false;
  }
  if (f.size() > kMaxOutputBytes) {
    error = "the document is too large";
    return false;
  }
  out = f.readAll();
  return true;
}

// A file of the work folder for a converter's output, made here (new, owner only) and removed when this ends.
class WorkFile {
public:
  explicit WorkFile(const QString &folder) : file_(folder + QStringLiteral("/conv-XXXXXX.pdf")) {
    file_.setAutoRemove(true);
    ok_ = file_.open();
    file_.close();
  }
  bool ok() const { return ok_; }
  QString path() const { return file_.fileName(); }

private:
  QTemporaryFile file_;
  bool ok_ = false;
};

bool startsWith(const QByteArray &head, const char *magic, int n) {
  return head.size() >= n && head.left(n) == QByteArray(magic, n);
}

} // namespace

DocumentKind KindOfDocument(const QByteArray &head, const std::string &mimeType) {
  // A PDF may carry a few bytes of junk before its header.
  if (head.left(1024).contains("%PDF-"))
    return DocumentKind::Pdf;
  if (startsWith(head, "%!", 2) || startsWith(head, "\xC5\xD0\xD3\xC6", 4) || startsWith(head, "\x04%!", 3))
    return DocumentKind::PostScript;
  if (startsWith(head, "\x89PNG\r\n\x1a\n", 8))
    return DocumentKind::Png;
  if (startsWith(head, "\xFF\xD8\xFF", 3))
    return DocumentKind::Jpeg;
  if (startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4))
    return DocumentKind::Tiff;
  if (startsWith(head, "GIF87a", 6) || startsWith(head, "GIF89a", 6))
    return DocumentKind::Gif;
  if (mimeType == "application/pdf")
    return DocumentKind::Pdf; // it will not read, and says so
  return DocumentKind::Other;
}

std::optional<QSizeF> MediaSizePoints(const std::string &media) {
  // The name ends in its size: "_" width "x" height and the unit, "mm" or "in".
  const size_t sep = media.rfind('_');
  if (sep == std::string::npos || media.size() - sep < 6)
    return std::nullopt;
  const std::string size = media.substr(sep + 1);
  const std::string unit = size.substr(size.size() - 2);
  const double perUnit = unit == "mm" ? 72.0 / 25.4 : unit == "in" ? 72.0 : 0.0;
  const size_t x = size.find('x');
  if (perUnit == 0 || x == std::string::npos)
    return std::nullopt;
  bool okW = false, okH = false;
  const double w = QString::fromStdString(size.substr(0, x)).toDouble(&okW);
  const double h = QString::fromStdString(size.substr(x + 1, size.size() - x - 3)).toDouble(&okH);
  // A printed page is more than nothing and at most 200 inches a side.
  if (!okW || !okH || !(w * perUnit > 0 && w * perUnit <= 72.0 * 200) ||
      !(h * perUnit > 0 && h * perUnit <= 72.0 * 200))
    return std::nullopt;
  return QSizeF(w * perUnit, h * perUnit);
}

bool PostScriptToPdf(const QString &in, const QString &outPdf, const ConvertOptions &o, std::string *error) {
  QStringList args{QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
                   QStringLiteral("-dQUIET"), QStringLiteral("-sDEVICE=pdfwrite"),
                   // Pages keep the orientation the document gives them.
                   QStringLiteral("-dAutoRotatePages=/None"),
                   QStringLiteral("-sOutputFile=") + QFileInfo(outPdf).absoluteFilePath()};
  if (const std::optional<QSizeF> size = MediaSizePoints(o.media)) {
    // The page size for documents that set none.
    args << QStringLiteral("-dDEVICEWIDTHPOINTS=%1").arg(size->width(), 0, 'f', 2)
         << QStringLiteral("-dDEVICEHEIGHTPOINTS=%1").arg(size->height(), 0, 'f', 2);
  }
  args << QStringLiteral("-f") << QFileInfo(in).absoluteFilePath();
  std::string why;
  if (!runLimited(QStringLiteral("gs"), args, QString(), o, why)) {
    if (error)
      *error = why;
    return false;
  }
  return true;
}

ConvertedDocument DocumentPages(const QString &path, const std::string &mimeType, const ConvertOptions &o) {
  ConvertedDocument out;
  QFile in(path);
  if (!in.open(QIODevice::ReadOnly)) {
    out.error = "the document cannot be read";
    return out;
  }
  const QByteArray head = in.read(1024);
  in.close();
  const DocumentKind kind = KindOfDocument(head, mimeType);
  QByteArray pdf;
  switch (kind) {
  case DocumentKind::Pdf:
    if (!readLimited(path, pdf, out.error))
      return out;
    break;
  case DocumentKind::PostScript: {
    WorkFile result(o.workFolder);
    if (!result.ok()) {
      out.error = "no room for the converted document";
      return out;
    }
    if (!PostScriptToPdf(path, result.path(), o, &out.error) || !readLimited(result.path(), pdf, out.error))
      return out;
    break;
  }
  case DocumentKind::Png:
  case DocumentKind::Jpeg:
  case DocumentKind::Tiff:
  case DocumentKind::Gif: {
    const ImageFormat f = kind == DocumentKind::Png    ? ImageFormat::Png
                          : kind == DocumentKind::Jpeg ? ImageFormat::Jpeg
                          : kind == DocumentKind::Tiff ? ImageFormat::Tiff
                                                       : ImageFormat::Gif;
    pdf = ImageToPdf(path, f, &out.error);
    if (pdf.isEmpty())
      return out;
    break;
  }
  case DocumentKind::Other: {
    WorkFile result(o.workFolder);
    if (!result.ok()) {
      out.error = "no room for the converted document";
      return out;
    }
    QStringList args{QStringLiteral("-m"), QStringLiteral("application/pdf")};
    // A stated type other than the unspecific one is trusted; else cupsfilter finds the type itself.
    if (!mimeType.empty() && mimeType != "application/octet-stream")
      args << QStringLiteral("-i") << QString::fromStdString(mimeType);
    if (!o.ppd.isEmpty())
      args << QStringLiteral("-p") << o.ppd;
    if (!o.media.empty())
      args << QStringLiteral("-o") << QStringLiteral("media=") + QString::fromStdString(o.media);
    args << QFileInfo(path).absoluteFilePath();
    std::string why;
    if (!runLimited(QStringLiteral("cupsfilter"), args, result.path(), o, why) ||
        QFileInfo(result.path()).size() == 0) {
      out.error = "CUPS has no filter that turns " + (mimeType.empty() ? std::string("it") : mimeType) + " into PDF";
      return out;
    }
    if (!readLimited(result.path(), pdf, out.error))
      return out;
    break;
  }
  }
  out.pages = render::PdfPage::LoadDocument(pdf, &out.error);
  return out;
}

} // namespace capture
