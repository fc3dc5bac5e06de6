// fxrender against pdftoppm on PDF documents: a 20-page text PDF and a 5-page vector-heavy PDF (made here with
// Ghostscript from the PostScript files in data/), at 150 and 300 dpi without supersampling, to PNG files; pages
// per second of both, measured in one run, and their ratio. Then fxrender's peak memory for one vector page at
// 100 dpi and factors 1, 3 and 20, where the bands keep it bounded.
//   bench_pdf_render [--runs N]   (best of N runs per measurement, default 3)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Processor time (user and system) of this program's finished children so far, in seconds.
double childrenCpuSeconds() {
  rusage use{};
  getrusage(RUSAGE_CHILDREN, &use);
  return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double seconds = 0;              // wall clock
  double cpuSeconds = 0;           // processor time of the program and its own children
  double drawMs = 0, encodeMs = 0; // fxrender's own account of its processor time
  bool ok = false;
};

Timing runTimed(const QString &program, const QStringList &args) {
  QProcess p;
  const double cpuBefore = childrenCpuSeconds();
  QElapsedTimer clock;
  clock.start();
  p.start(program, args);
  Timing t;
  if (!p.waitForStarted(10000) || !p.waitForFinished(-1) || p.exitCode() != 0) {
    std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    return t;
  }
  t.seconds = double(clock.nsecsElapsed()) / 1e9;
  t.cpuSeconds = childrenCpuSeconds() - cpuBefore;
  const QString out = QString::fromUtf8(p.readAllStandardOutput());
  const QRegularExpression line(QStringLiteral("draw ([\\d.]+) ms\\tencode ([\\d.]+) ms"));
  for (auto it = line.globalMatch(out); it.hasNext();) {
    const auto m = it.next();
    t.drawMs += m.captured(1).toDouble();
    t.encodeMs += m.captured(2).toDouble();
  }
  t.ok = true;
  return t;
}

Timing best(int runs, const QString &program, const QStringList &args, const QString &outDir) {
  Timing b;
  for (int i = 0; i < runs; ++i) {
    QDir(outDir).removeRecursively();
    QDir().mkpath(outDir);
    const Timing t = runTimed(program, args);
    if (!t.ok)
      return t;
    if (!b.ok || t.cpuSeconds < b.cpuSeconds)
      b = t;
  }
  return b;
}

// Peak resident memory of one child run, in MiB (forked and waited for here, so the figure is that child's own).
double peakMiB(const QString &program, const QStringList &args) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<QByteArray> a{program.toLocal8Bit()};
    for (const QString &s : args)
      a.push_back(s.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : a)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage use{};
  if (pid < 0 || wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return double(use.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  setvbuf(stdout, nullptr, _IOLBF, 0); // each line as it is measured
  int runs = 3;
  const QStringList args = app.arguments();
  if (const qsizetype i = args.indexOf(QStringLiteral("--runs")); i > 0 && i + 1 < args.size())
    runs = std::max(1, args[i + 1].toInt());
  const QString fxrender = app.applicationDirPath() + QStringLiteral("/fxrender");
  const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
  const QString gs = QStandardPaths::findExecutable(QStringLiteral("gs"));
  if (pdftoppm.isEmpty() || gs.isEmpty() || !QFile::exists(fxrender)) {
    std::fprintf(stderr, "needs pdftoppm (poppler-utils), gs (ghostscript) and fxrender beside this program\n");
    return 1;
  }
  QTemporaryDir dir;
  struct Doc {
    const char *name;
    int pages;
    QString pdf;
  } docs[] = {{"text20", 20, {}}, {"vector5", 5, {}}};
  for (Doc &d : docs) {
    d.pdf = dir.filePath(QString::fromLatin1(d.name) + QStringLiteral(".pdf"));
    const Timing made = runTimed(
        gs, {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
             QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-sOutputFile=") + d.pdf,
             QStringLiteral(FOLVEX_BENCH_DATA "/") + QString::fromLatin1(d.name) + QStringLiteral(".ps")});
    if (!made.ok)
      return 1;
  }
  // fxrender keeps its settings to itself; private temporary and runtime folders keep its files apart.
  qputenv("TMPDIR", dir.path().toLocal8Bit());
  QDir().mkpath(dir.filePath(QStringLiteral("run")));
  QFile::setPermissions(dir.filePath(QStringLiteral("run")),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", dir.filePath(QStringLiteral("run")).toLocal8Bit());

  // The machine may be shared: processor time is the steadier measure, wall time is given beside it.
  std::printf("pages per second of processor time (of wall time)\n");
  std::printf("%-8s %4s  %16s %16s  %11s   fxrender draw / encode, ms per page\n", "document", "dpi", "fxrender",
              "pdftoppm", "fx/pp");
  for (const Doc &d : docs)
    for (int dpi : {150, 300}) {
      const QString out = dir.filePath(QStringLiteral("out"));
      const Timing fx =
          best(runs, fxrender,
               {QStringLiteral("--dpi"), QString::number(dpi), QStringLiteral("--aa"), QStringLiteral("0"),
                QStringLiteral("--format"), QStringLiteral("png"), QStringLiteral("--out"), out, d.pdf},
               out);
      const Timing pp = best(
          runs, pdftoppm,
          {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"), d.pdf, out + QStringLiteral("/p")}, out);
      if (!fx.ok || !pp.ok)
        return 1;
      const double fxCpu = d.pages / fx.cpuSeconds, ppCpu = d.pages / pp.cpuSeconds;
      const double fxWall = d.pages / fx.seconds, ppWall = d.pages / pp.seconds;
      std::printf("%-8s %4d  %6.2f (%6.2f)  %6.2f (%6.2f)  %4.2f (%4.2f)   %.1f / %.1f\n", d.name, dpi, fxCpu, fxWall,
                  ppCpu, ppWall, fxCpu / ppCpu, fxWall / ppWall, fx.drawMs / d.pages, fx.encodeMs / d.pages);
    }

  // One vector page at 100 dpi: the supersampled page at factor 20 would be 16,540 x 23,400 pixels (1.4 GiB).
  const QString one = dir.filePath(QStringLiteral("one.pdf"));
  runTimed(gs, {QStringLiteral("-q"), QStringLiteral("-dSAFER"), QStringLiteral("-dBATCH"), QStringLiteral("-dNOPAUSE"),
                QStringLiteral("-sDEVICE=pdfwrite"), QStringLiteral("-dLastPage=1"),
                QStringLiteral("-sOutputFile=") + one, docs[1].pdf});
  std::printf("\nfxrender peak memory, one vector page at 100 dpi to BMP:\n");
  for (int f : {0, 3, 20}) {
    const QString out = dir.filePath(QStringLiteral("mem"));
    QDir().mkpath(out);
    const double mib =
        peakMiB(fxrender, {QStringLiteral("--dpi"), QStringLiteral("100"), QStringLiteral("--aa"), QString::number(f),
                           QStringLiteral("--format"), QStringLiteral("bmp"), QStringLiteral("--out"), out, one});
    std::printf("  factor %2d: %8.1f MiB\n", f == 0 ? 1 : f, mib);
  }
  return 0;
}
