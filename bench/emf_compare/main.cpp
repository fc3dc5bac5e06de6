// emfcompare: renders metafile pages with our player exactly as the reference pictures were made and scores each
// rendering against its reference (structural score, mean absolute difference, share of strongly differing pixels).
//
//   emfcompare [--ref DIR] [--corpus DIR] [--aa 1|3] [--out DIR] [--timeout SEC] [--max-mp N] [--worst N]
//              [--in-process] [PATTERN...]
//   emfcompare --files [--aa N] [--out DIR] FILE...
//
// --save FILE keeps the scores of a run; --baseline FILE lists the pages whose score moved since that run.
//
// PATTERN selects the pages whose name contains it (all pages without one). --files renders the given metafiles
// without references (to check that damaged files load or are refused and never crash the player). Each page is
// rendered in a child process so that a crash or a hang of one page is reported and the run goes on. --out writes our
// rendering
// (<name>.ours.png) and a difference map (<name>.heat.png) of every page.
#include "fidelity.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QProcess>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Page {
  QString name;  // as in the reference table
  QString emf;   // metafile path
  QString png;   // reference picture path
  int width = 0; // reference size
  int height = 0;
};

struct Result {
  Page page;
  bool ok = false;
  bool renderOnly = false; // no reference: only rendered
  QSize size;
  QString error;
  fidelity::Scores scores;
  double ms = 0;
};

QString stem(const QString &name) { return QFileInfo(name).completeBaseName(); }

// Pages of one antialiasing factor listed in a reference table.
void readTable(const QString &path, const QString &refDir, const QString &corpusDir, const QString &subFolder, int aa,
               std::vector<Page> &out) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
    return;
  QTextStream ts(&f);
  QStringList head = ts.readLine().split('\t');
  const int cInput = head.indexOf("input"), cAa = head.indexOf("aa"), cPng = head.indexOf("png"),
            cStatus = head.indexOf("status"), cW = head.indexOf("width"), cH = head.indexOf("height");
  if (cInput < 0 || cAa < 0 || cPng < 0 || cStatus < 0)
    return;
  while (!ts.atEnd()) {
    const QStringList c = ts.readLine().split('\t');
    if (c.size() <= std::max({cInput, cAa, cPng, cStatus, cW, cH}))
      continue;
    if (c[cAa].toInt() != aa || c[cStatus] != "ok" || c[cPng].isEmpty())
      continue;
    Page p;
    p.name = c[cInput];
    p.emf = p.name.startsWith("pages/") ? refDir + "/" + p.name : corpusDir + "/" + subFolder + "/" + p.name;
    p.png = refDir + "/" + c[cPng];
    p.width = c[cW].toInt();
    p.height = c[cH].toInt();
    out.push_back(p);
  }
}

// Renders and scores one page in this process.
Result runOne(const Page &page, int aa, const QString &outDir, uint64_t maxPixels) {
  Result r;
  r.page = page;
  std::string why;
  emf::HENHMETAFILE mf = emf::GetEnhMetaFileA(QFile::encodeName(page.emf).toStdString(), &why);
  if (!mf) {
    r.error = "cannot load: " + QString::fromStdString(why);
    return r;
  }
  QImage ref;
  if (!page.png.isEmpty())
    ref.load(page.png);
  if (!page.png.isEmpty() && ref.isNull()) {
    r.error = "cannot read reference " + page.png;
    return r;
  }
  QElapsedTimer t;
  t.start();
  QImage ours = fidelity::renderPage(mf, aa, 100, &why, maxPixels);
  r.ms = double(t.nsecsElapsed()) / 1e6;
  if (ours.isNull()) {
    r.error = "render failed: " + QString::fromStdString(why);
    return r;
  }
  r.size = ours.size();
  if (page.png.isEmpty()) {
    r.ok = r.renderOnly = true;
    if (!outDir.isEmpty())
      ours.save(outDir + "/" + stem(page.name) + QString(".aa%1").arg(aa) + ".ours.png");
    return r;
  }
  if (ours.size() != ref.size()) {
    r.error = QString("size differs: ours %1x%2, reference %3x%4")
                  .arg(ours.width())
                  .arg(ours.height())
                  .arg(ref.width())
                  .arg(ref.height());
    return r;
  }
  r.scores = fidelity::compare(ours, ref);
  r.ok = true;
  if (!outDir.isEmpty()) {
    const QString base = outDir + "/" + stem(page.name) + QString(".aa%1").arg(aa);
    ours.save(base + ".ours.png");
    fidelity::heatmap(ours, ref).save(base + ".heat.png");
  }
  return r;
}

QString resultLine(const Result &r) {
  if (!r.ok)
    return "ERROR " + QString(r.error).replace('\n', ' ');
  if (r.renderOnly)
    return QString("RENDERED %1 %2 %3").arg(r.size.width()).arg(r.size.height()).arg(r.ms, 0, 'f', 1);
  return QString("RESULT %1 %2 %3 %4 %5")
      .arg(r.scores.ssim8, 0, 'g', 17)
      .arg(r.scores.mad, 0, 'g', 17)
      .arg(r.scores.diff32, 0, 'g', 17)
      .arg(std::isinf(r.scores.psnr) ? 999.0 : r.scores.psnr, 0, 'g', 17)
      .arg(r.ms, 0, 'f', 1);
}

Result parseChild(const Page &page, const QByteArray &output) {
  Result r;
  r.page = page;
  const QList<QByteArray> lines = output.split('\n');
  for (const QByteArray &l : lines) {
    if (l.startsWith("RESULT ")) {
      const QList<QByteArray> f = l.mid(7).split(' ');
      if (f.size() >= 5) {
        r.scores.ssim8 = f[0].toDouble();
        r.scores.mad = f[1].toDouble();
        r.scores.diff32 = f[2].toDouble();
        r.scores.psnr = f[3].toDouble();
        r.ms = f[4].toDouble();
        r.ok = true;
      }
      return r;
    }
    if (l.startsWith("RENDERED ")) {
      const QList<QByteArray> f = l.mid(9).split(' ');
      if (f.size() >= 3) {
        r.size = QSize(f[0].toInt(), f[1].toInt());
        r.ms = f[2].toDouble();
        r.ok = r.renderOnly = true;
      }
      return r;
    }
    if (l.startsWith("ERROR ")) {
      r.error = QString::fromUtf8(l.mid(6));
      return r;
    }
  }
  r.error = "no result";
  return r;
}

} // namespace

int main(int argc, char **argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QCommandLineParser cl;
  cl.setApplicationDescription("Renders metafile pages and scores them against reference pictures.");
  cl.addHelpOption();
  const QString defaultRef = QStringLiteral(EMFCOMPARE_SHARED_DIR "/reference");
  cl.addOption({"ref", "Reference folder (with reference.tsv).", "dir", defaultRef});
  cl.addOption({"corpus", "Corpus folder (default: <ref>/../corpus).", "dir"});
  cl.addOption({"aa", "Antialiasing factor of the references to use (1 or 3).", "n", "1"});
  cl.addOption({"out", "Write our renderings and difference maps into this folder.", "dir"});
  cl.addOption({"timeout", "Seconds allowed per page.", "sec", "60"});
  cl.addOption({"max-mp", "Skip pages above this many output megapixels.", "n", "60"});
  cl.addOption({"worst", "How many of the worst pages to list at the end.", "n", "10"});
  cl.addOption({"save", "Write the scores of this run to a table (name, ssim8, mad, diff32).", "file"});
  cl.addOption({"baseline", "Compare with the scores of an earlier run saved with --save.", "file"});
  cl.addOption({"in-process", "Render every page in this process (no crash isolation)."});
  cl.addOption({"files", "Render the metafiles named as arguments, without references."});
  cl.addOption({"one", "Internal: render one page (metafile, reference, name) and print its result.", "emf"});
  cl.addPositionalArgument("pattern", "Only pages whose name contains one of these.", "[pattern...]");
  cl.process(app);

  const int aa = cl.value("aa").toInt();
  const QString outDir = cl.value("out");
  const uint64_t maxPixels = uint64_t(std::max(1.0, cl.value("max-mp").toDouble()) * 1e6);
  if (!outDir.isEmpty())
    QDir().mkpath(outDir);
  QTextStream out(stdout);

  if (cl.isSet("one")) {
    const QStringList rest = cl.positionalArguments();
    if (rest.size() < 2) { // reference picture (empty: none) and page name
      out << "ERROR --one needs the reference picture and the page name\n";
      return 1;
    }
    Page p;
    p.emf = cl.value("one");
    p.png = rest[0];
    p.name = rest[1];
    out << resultLine(runOne(p, aa, outDir, maxPixels)) << "\n";
    return 0;
  }

  const QString refDir = cl.value("ref");
  const QString corpusDir = cl.isSet("corpus") ? cl.value("corpus") : refDir + "/../corpus";
  std::vector<Page> pages;
  const bool filesMode = cl.isSet("files");
  if (filesMode) {
    for (const QString &f : cl.positionalArguments()) {
      Page p;
      p.name = QFileInfo(f).fileName();
      p.emf = f;
      pages.push_back(p);
    }
  } else {
    readTable(refDir + "/reference.tsv", refDir, corpusDir, "emf", aa, pages);
    readTable(refDir + "/generated.tsv", refDir, corpusDir, "generated", aa, pages);
  }
  if (pages.empty()) {
    if (filesMode)
      fprintf(stderr, "emfcompare: no files given\n");
    else
      fprintf(stderr, "emfcompare: no reference pages for AA %d in %s\n", aa, qPrintable(refDir));
    return 1;
  }
  const QStringList patterns = filesMode ? QStringList() : cl.positionalArguments();
  if (!patterns.isEmpty())
    pages.erase(std::remove_if(pages.begin(), pages.end(),
                               [&](const Page &p) {
                                 return std::none_of(patterns.begin(), patterns.end(),
                                                     [&](const QString &pat) { return p.name.contains(pat); });
                               }),
                pages.end());

  const int timeoutMs = std::max(1, cl.value("timeout").toInt()) * 1000;
  std::vector<Result> results;
  for (const Page &p : pages) {
    Result r;
    if (uint64_t(p.width) * uint64_t(p.height) > maxPixels) {
      r.page = p;
      r.error = "skipped (size)";
    } else if (cl.isSet("in-process")) {
      r = runOne(p, aa, outDir, maxPixels);
    } else {
      QProcess child;
      child.setProcessChannelMode(QProcess::ForwardedErrorChannel); // diagnostics of a failing page stay visible
      QStringList args = {"--one", p.emf, "--aa", QString::number(aa), "--max-mp", cl.value("max-mp")};
      if (!outDir.isEmpty())
        args << "--out" << outDir;
      args << p.png << p.name;
      child.start(QCoreApplication::applicationFilePath(), args);
      if (!child.waitForFinished(timeoutMs)) {
        child.kill();
        child.waitForFinished(5000);
        r.page = p;
        r.error = child.error() == QProcess::Timedout ? QString("timeout (%1 s)").arg(timeoutMs / 1000)
                                                      : "could not run: " + child.errorString();
      } else if (child.exitStatus() == QProcess::CrashExit) {
        r.page = p;
        r.error = "crashed";
      } else {
        r = parseChild(p, child.readAllStandardOutput());
        if (!r.ok && child.exitCode() != 0)
          r.error += QString(" (exit code %1)").arg(child.exitCode());
      }
    }
    if (r.renderOnly)
      out << QString("%1 rendered %2x%3 %4 ms\n")
                 .arg(p.name, -64)
                 .arg(r.size.width())
                 .arg(r.size.height())
                 .arg(r.ms, 0, 'f', 0);
    else if (r.ok)
      out << QString("%1 %2x%3 ssim8=%4 mad=%5 diff32=%6% psnr=%7 %8 ms\n")
                 .arg(p.name, -64)
                 .arg(p.width)
                 .arg(p.height)
                 .arg(r.scores.ssim8, 0, 'f', 4)
                 .arg(r.scores.mad, 0, 'f', 3)
                 .arg(r.scores.diff32, 0, 'f', 3)
                 .arg(r.scores.psnr >= 999 ? QString("inf") : QString::number(r.scores.psnr, 'f', 2))
                 .arg(r.ms, 0, 'f', 0);
    else
      out << QString("%1 %2x%3 FAILED: %4\n").arg(p.name, -64).arg(p.width).arg(p.height).arg(r.error);
    out.flush();
    results.push_back(r);
  }

  double sumS = 0, sumM = 0, sumD = 0;
  int ok = 0, failed = 0, skipped = 0, rendered = 0;
  for (const Result &r : results) {
    if (r.renderOnly) {
      ++rendered;
    } else if (r.ok) {
      ++ok;
      sumS += r.scores.ssim8;
      sumM += r.scores.mad;
      sumD += r.scores.diff32;
    } else if (r.error.startsWith("skipped")) {
      ++skipped;
    } else {
      ++failed;
    }
  }
  out << QString("\npages=%1 compared=%2 rendered=%3 failed=%4 skipped=%5 (AA %6)\n")
             .arg(results.size())
             .arg(ok)
             .arg(rendered)
             .arg(failed)
             .arg(skipped)
             .arg(aa);
  if (ok > 0)
    out << QString("mean over compared: ssim8=%1 mad=%2 diff32=%3%\n")
               .arg(sumS / ok, 0, 'f', 4)
               .arg(sumM / ok, 0, 'f', 3)
               .arg(sumD / ok, 0, 'f', 3);
  if (!filesMode && ok + failed > 0)
    out << QString("mean ssim8 counting failed pages as 0: %1\n").arg(sumS / (ok + failed), 0, 'f', 4);

  std::vector<const Result *> ranked;
  for (const Result &r : results)
    if (!r.renderOnly && !r.error.startsWith("skipped"))
      ranked.push_back(&r);
  std::sort(ranked.begin(), ranked.end(), [](const Result *a, const Result *b) {
    const double sa = a->ok ? a->scores.ssim8 : -1, sb = b->ok ? b->scores.ssim8 : -1;
    return sa < sb;
  });
  const size_t worst = filesMode ? 0 : std::min<size_t>(ranked.size(), size_t(std::max(0, cl.value("worst").toInt())));
  if (worst > 0)
    out << "worst pages:\n";
  for (size_t i = 0; i < worst; ++i) {
    const Result &r = *ranked[i];
    out << "  " << r.page.name << "  "
        << (r.ok ? QString("ssim8=%1 mad=%2").arg(r.scores.ssim8, 0, 'f', 4).arg(r.scores.mad, 0, 'f', 3) : r.error)
        << "\n";
  }

  if (cl.isSet("save")) {
    QFile f(cl.value("save"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Text)) {
      QTextStream ts(&f);
      ts << "page\tssim8\tmad\tdiff32\n";
      for (const Result &r : results)
        if (r.ok && !r.renderOnly)
          ts << r.page.name << '\t' << QString::number(r.scores.ssim8, 'f', 6) << '\t'
             << QString::number(r.scores.mad, 'f', 4) << '\t' << QString::number(r.scores.diff32, 'f', 4) << '\n';
    } else {
      fprintf(stderr, "emfcompare: cannot write %s\n", qPrintable(cl.value("save")));
    }
  }
  if (cl.isSet("baseline")) {
    QFile f(cl.value("baseline"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
      fprintf(stderr, "emfcompare: cannot read %s\n", qPrintable(cl.value("baseline")));
    } else {
      QHash<QString, double> before;
      QTextStream ts(&f);
      ts.readLine();
      while (!ts.atEnd()) {
        const QStringList c = ts.readLine().split('\t');
        if (c.size() >= 2)
          before.insert(c[0], c[1].toDouble());
      }
      // pages whose score moved by more than a thousandth, worst change first
      std::vector<std::pair<double, const Result *>> moved;
      for (const Result &r : results) {
        const auto it = before.constFind(r.page.name);
        if (it == before.constEnd() || r.renderOnly)
          continue;
        const double now = r.ok ? r.scores.ssim8 : 0.0;
        if (std::abs(now - *it) > 0.001)
          moved.emplace_back(now - *it, &r);
      }
      std::sort(moved.begin(), moved.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
      out << QString("changes against %1 (%2 pages moved):\n").arg(cl.value("baseline")).arg(moved.size());
      for (const auto &[delta, r] : moved)
        out << QString("  %1 %2%3\n").arg(r->page.name, -64).arg(delta > 0 ? "+" : "").arg(delta, 0, 'f', 4);
    }
  }
  return failed > 0 ? 2 : 0;
}
