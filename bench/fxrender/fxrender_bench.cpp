// fxrender as a batch program, each case one process run (best of --runs):
//   start-up      a tiny page, and --version: what every process pays before its first page;
//   batches       the 20 generated pages and 10 corpus pages at 300 dpi, factor 3, as JPEG and PNG, with one
//                 worker and with --jobs N: wall seconds, pages per second, processor seconds, peak resident memory;
//   memory        one A4 page at 300 dpi at factors 3 and 20 beside the size of its page and band;
//   reference     three generated pages at 100 dpi, factor 3, to BMP, one process each, against the reference
//                 renderer's own in-program time for them (generated.tsv).
//   bench_fxrender [--runs N] [--jobs N] [--fxrender PROGRAM]
#include "render/rasteriser.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
  bool ok = false;
  double wallS = 0, cpuS = 0, peakMiB = 0;
  QString out;
};

double now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One run of the program: forked and waited for here, so time and memory are that child's own. A page that fails
// (status 1) still counts: the corpus has pages fxrender refuses.
Run runOnce(const QString &program, const QStringList &args, const QString &outFile) {
  Run r;
  const double start = now();
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<QByteArray> a{program.toLocal8Bit()};
    for (const QString &s : args)
      a.push_back(s.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : a)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    if (!freopen(outFile.toLocal8Bit().constData(), "w", stdout) || !freopen("/dev/null", "w", stderr))
      _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage use{};
  if (pid < 0 || wait4(pid, &status, 0, &use) != pid || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
    return r;
  r.wallS = now() - start;
  r.cpuS =
      double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
  r.peakMiB = double(use.ru_maxrss) / 1024.0;
  QFile f(outFile);
  if (f.open(QIODevice::ReadOnly))
    r.out = QString::fromLocal8Bit(f.readAll());
  r.ok = true;
  return r;
}

// The best wall time of runs, with the highest peak memory seen.
Run best(int runs, const QString &program, const QStringList &args, const QString &folder) {
  Run b;
  double peak = 0;
  for (int i = 0; i < runs; ++i) {
    QDir(folder + QStringLiteral("/out")).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("/out"));
    const Run r = runOnce(program, args, folder + QStringLiteral("/stdout.txt"));
    if (!r.ok)
      return r;
    peak = std::max(peak, r.peakMiB);
    if (!b.ok || r.wallS < b.wallS)
      b = r;
  }
  b.peakMiB = peak;
  return b;
}

QStringList emfFiles(const QString &folder, int count) {
  QStringList files;
  for (const QString &name : QDir(folder).entryList({QStringLiteral("*.emf")}, QDir::Files, QDir::Name))
    if (files.size() < count)
      files << folder + QLatin1Char('/') + name;
  return files;
}

int pagesIn(const QString &out) { return int(out.count(QStringLiteral("\tpage "))); }

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  setvbuf(stdout, nullptr, _IOLBF, 0);
  const QStringList args = app.arguments();
  auto option = [&](const char *name) {
    const qsizetype i = args.indexOf(QLatin1String(name));
    return i > 0 && i + 1 < args.size() ? args[i + 1] : QString();
  };
  const int runs = std::max(1, option("--runs").isEmpty() ? 3 : option("--runs").toInt());
  const int jobs =
      std::max(2, option("--jobs").isEmpty() ? int(std::thread::hardware_concurrency()) : option("--jobs").toInt());
  const QString fxrender =
      option("--fxrender").isEmpty() ? app.applicationDirPath() + QStringLiteral("/fxrender") : option("--fxrender");
  const QString shared = QStringLiteral(FOLVEX_SHARED_DIR);
  const QStringList generated = emfFiles(shared + QStringLiteral("/corpus/generated"), 20);
  const QStringList corpus = emfFiles(shared + QStringLiteral("/corpus/emf"), 10);
  if (!QFile::exists(fxrender) || generated.size() < 20 || corpus.size() < 10) {
    std::fprintf(stderr, "needs fxrender and the shared corpus\n");
    return 1;
  }
  QTemporaryDir dir;
  qputenv("TMPDIR", dir.path().toLocal8Bit());
  const QString out = dir.filePath(QStringLiteral("out"));
  std::printf("%s, best of %d runs, %d workers in parallel\n", qPrintable(fxrender), runs, jobs);

  std::printf("\nstart-up (wall ms, peak MiB)\n");
  const QString tiny = generated[6]; // lines and curves: a few records
  const Run page = best(std::max(runs, 5), fxrender,
                        {QStringLiteral("--dpi"), QStringLiteral("5"), QStringLiteral("--aa"), QStringLiteral("0"),
                         QStringLiteral("--format"), QStringLiteral("bmp"), QStringLiteral("--out"), out, tiny},
                        dir.path());
  const Run version = best(std::max(runs, 5), fxrender, {QStringLiteral("--version")}, dir.path());
  std::printf("  one tiny page  %7.1f ms %7.1f MiB\n  --version      %7.1f ms %7.1f MiB\n", page.wallS * 1e3,
              page.peakMiB, version.wallS * 1e3, version.peakMiB);

  std::printf("\nbatches at 300 dpi, factor 3\n%-10s %-4s %4s %8s %8s %8s %9s\n", "pages", "fmt", "-j", "wall s",
              "pages/s", "cpu s", "peak MiB");
  for (const auto &[name, files] : {std::pair{"generated", generated}, std::pair{"corpus", corpus}})
    for (const char *format : {"jpg", "png"})
      for (const int j : {1, jobs}) {
        auto run = [&](const QStringList &jobsOption) {
          return best(runs, fxrender,
                      QStringList{QStringLiteral("--dpi"), QStringLiteral("300"), QStringLiteral("--aa"),
                                  QStringLiteral("3"), QStringLiteral("--format"), QLatin1String(format),
                                  QStringLiteral("--out"), out} +
                          jobsOption + files,
                      dir.path());
        };
        // A program from before --jobs draws one page at a time anyway.
        Run r = run({QStringLiteral("--jobs"), QString::number(j)});
        if (!r.ok && j == 1)
          r = run({});
        if (!r.ok) {
          std::printf("%-10s %-4s %4d  failed (a program without --jobs cannot run this case)\n", name, format, j);
          continue;
        }
        std::printf("%-10s %-4s %4d %8.2f %8.2f %8.2f %9.1f\n", name, format, j, r.wallS, pagesIn(r.out) / r.wallS,
                    r.cpuS, r.peakMiB);
      }

  // Above the process's own memory (the tiny page's peak), a render holds its page (8-bit, three bytes a pixel) and
  // one band of supersampled rows (four bytes a pixel).
  std::printf("\nmemory of one A4 page at 300 dpi (PNG), base %.1f MiB\n%6s %10s %9s %8s %9s %16s\n", page.peakMiB,
              "factor", "pixels", "page MiB", "band MiB", "peak MiB", "above base/(p+b)");
  const QString a4 = generated[17]; // a document page, A4
  for (const int f : {3, 20}) {
    const Run r = best(1, fxrender,
                       {QStringLiteral("--dpi"), QStringLiteral("300"), QStringLiteral("--aa"), QString::number(f),
                        QStringLiteral("--format"), QStringLiteral("png"), QStringLiteral("--out"), out, a4},
                       dir.path());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("\\t(\\d+)x(\\d+)\\t")).match(r.out);
    const double cols = m.hasMatch() ? m.captured(1).toDouble() : 0, rows = m.hasMatch() ? m.captured(2).toDouble() : 0;
    const render::BandPlan plan = render::PlanBands((long long)rows, f, false);
    const double pageMiB = cols * rows * 3 / 1048576.0;
    const double bandMiB = cols * plan.S * 4 * plan.B / 1048576.0;
    std::printf("%6d %10.0f %9.1f %8.1f %9.1f %16.2f\n", f, cols * rows, pageMiB, bandMiB, r.peakMiB,
                pageMiB > 0 ? (r.peakMiB - page.peakMiB) / (pageMiB + bandMiB) : 0.0);
  }

  // The reference renderer's in-program milliseconds (load, bands, averaging, BMP write) of three pages.
  std::printf("\nagainst the reference renderer: three pages at 100 dpi, factor 3, BMP, one process each\n");
  QFile tsv(shared + QStringLiteral("/reference/generated.tsv"));
  double referenceMs = 0, oursMs = 0;
  if (tsv.open(QIODevice::ReadOnly)) {
    const QStringList lines = QString::fromUtf8(tsv.readAll()).split(QLatin1Char('\n'));
    for (const char *name : {"gen-01-text-fonts.emf", "gen-18-document.emf", "gen-20-dense-text.emf"}) {
      for (const QString &line : lines) {
        const QStringList c = line.split(QLatin1Char('\t'));
        if (c.size() > 7 && c[0] == QLatin1String(name) && c[2] == QStringLiteral("100") && c[3] == QStringLiteral("3"))
          referenceMs += c[7].toDouble();
      }
      const Run r = best(runs, fxrender,
                         {QStringLiteral("--dpi"), QStringLiteral("100"), QStringLiteral("--aa"), QStringLiteral("3"),
                          QStringLiteral("--format"), QStringLiteral("bmp"), QStringLiteral("--out"), out,
                          shared + QStringLiteral("/corpus/generated/") + QLatin1String(name)},
                         dir.path());
      oursMs += r.wallS * 1e3;
    }
  }
  std::printf("  fxrender %.1f ms, reference %.1f ms, ratio %.2f\n", oursMs, referenceMs,
              referenceMs > 0 ? oursMs / referenceMs : 0.0);
  return 0;
}
