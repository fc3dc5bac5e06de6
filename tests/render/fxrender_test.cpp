// The batch renderer, end to end: the program is run on sample files as a user would run it.
#include <Magick++.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using MagickCore::Quantum;

namespace {

struct Outcome {
  int status = -1;
  QString out, err;
};

class FxRender : public ::testing::Test {
protected:
  void SetUp() override { QDir().mkpath(out()); }
  QTemporaryDir dir;
  Outcome run(const QStringList &args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), dir.path());
    env.insert(QStringLiteral("FOLVEX_REGISTRY_DIR"), dir.filePath(QStringLiteral("registry")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(FOLVEX_BIN_DIR "/fxrender"), args);
    Outcome r;
    if (!p.waitForFinished(120000))
      return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
  }
  static QString data(const char *name) { return QStringLiteral(FOLVEX_TEST_DATA "/render/") + QLatin1String(name); }
  QString out() const { return dir.filePath(QStringLiteral("out")); }
};

} // namespace

TEST_F(FxRender, HelpAndBadCommandLines) {
  Outcome r = run({QStringLiteral("--help")});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.out.contains(QStringLiteral("Usage: fxrender")));
  EXPECT_TRUE(r.out.contains(QStringLiteral("--pdf-format")));

  for (const QStringList &bad :
       {QStringList{}, QStringList{QStringLiteral("--aa"), QStringLiteral("21"), data("deping-example.emf")},
        QStringList{QStringLiteral("--format"), QStringLiteral("xyz"), data("deping-example.emf")},
        QStringList{QStringLiteral("--dpi")}, QStringList{QStringLiteral("--frobnicate")}}) {
    r = run(bad);
    EXPECT_EQ(r.status, 2) << bad.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("fxrender: "))) << r.err.toStdString();
  }
}

TEST_F(FxRender, RendersAnEmfFileToTheChosenFormat) {
  // Frame 24422 x 12479 (0.01 mm) at 50 dpi: 481 x 246 pixels.
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("50"), QStringLiteral("--aa"), QStringLiteral("2"),
                         QStringLiteral("--format"), QStringLiteral("png"), QStringLiteral("--background"),
                         QStringLiteral("4"), QStringLiteral("--out"), out(), data("deping-example.emf")});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("page 1\t481x246"))) << r.out.toStdString();
  const QString file = out() + QStringLiteral("/deping-example.png");
  ASSERT_TRUE(QFile::exists(file));
  Magick::Image img;
  img.ping(file.toStdString());
  EXPECT_EQ(img.columns(), 481u);
  EXPECT_EQ(img.rows(), 246u);
  EXPECT_EQ(img.magick(), "PNG");
  EXPECT_FALSE(QDir(dir.filePath(QStringLiteral("registry"))).exists()) << "the registry is never touched";
}

TEST_F(FxRender, SpoolPagesAreNumbered) {
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("30"), QStringLiteral("--aa"), QStringLiteral("0"),
                         QStringLiteral("--format"), QStringLiteral("tif"), QStringLiteral("--out"), out(),
                         data("stories2-00035.spl")});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  const QString file = out() + QStringLiteral("/stories2-00035-0001.tif");
  ASSERT_TRUE(QFile::exists(file)) << r.out.toStdString();
  Magick::Image img;
  img.ping(file.toStdString());
  EXPECT_EQ(img.magick(), "TIFF");
  EXPECT_EQ(img.columns(), 239u); // 202 mm page at 30 dpi
}

TEST_F(FxRender, BadFilesGiveAMessageAndAFailureStatus) {
  QFile junk(dir.filePath(QStringLiteral("junk.emf")));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("this is not a metafile at all, just some text that goes on for a while.");
  junk.close();
  QFile cut(dir.filePath(QStringLiteral("cut.emf")));
  QFile whole(data("gen-07-lines-curves.emf"));
  ASSERT_TRUE(whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly));
  cut.write(whole.read(60));
  cut.close();
  QFile spool(dir.filePath(QStringLiteral("empty.spl")));
  ASSERT_TRUE(spool.open(QIODevice::WriteOnly));
  spool.write(QByteArray("\x00\x00\x01\x00\x08\x00\x00\x00", 8));
  spool.close();

  const Outcome r = run({QStringLiteral("--out"), out(), junk.fileName(), cut.fileName(), spool.fileName(),
                         dir.filePath(QStringLiteral("missing.emf")), data("deping-example.emf")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("junk.emf"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("cut.emf")));
  EXPECT_TRUE(r.err.contains(QStringLiteral("empty.spl")));
  EXPECT_TRUE(r.err.contains(QStringLiteral("missing.emf")));
  // The good file among them is still rendered.
  EXPECT_TRUE(QFile::exists(out() + QStringLiteral("/deping-example.jpg")));
}

TEST_F(FxRender, AllPagesIntoOnePdf) {
  const QString pdf = dir.filePath(QStringLiteral("all.pdf"));
  const Outcome r =
      run({QStringLiteral("--dpi"), QStringLiteral("40"), QStringLiteral("--pdf"), pdf, QStringLiteral("--pdf-format"),
           QStringLiteral("png"), data("deping-example.emf"), data("stories2-00035.spl")});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  QFile f(pdf);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("%PDF-"));
  const QString text = QString::fromLatin1(bytes);
  EXPECT_EQ(text.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)"))), 2) << "one page per rendered page";
}

namespace {

// A metafile that draws nothing, with the given frame in 0.01 mm.
QByteArray blankEmf(qint32 right, qint32 bottom) {
  QByteArray b(128, '\0');
  auto put = [&](int at, quint32 v) {
    for (int i = 0; i < 4; ++i)
      b[at + i] = char(v >> (8 * i));
  };
  put(0, 1);
  put(4, 108);
  put(16, 100);
  put(20, 100);
  put(32, quint32(right));
  put(36, quint32(bottom));
  put(40, 0x464D4520);
  put(44, 0x10000);
  put(48, 128);
  put(52, 2);
  b[56] = 1;
  put(72, 1024);
  put(76, 768);
  put(80, 320);
  put(84, 240);
  put(100, 320000);
  put(104, 240000);
  put(108, 14);
  put(112, 20);
  put(120, 16);
  put(124, 20);
  return b;
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPages(const QString &path) {
  return QString::fromLatin1(readBytes(path)).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?!s)")));
}

} // namespace

TEST_F(FxRender, InputsWithTheSameBaseNameKeepTheirOwnFiles) {
  QDir().mkpath(dir.filePath(QStringLiteral("a")));
  QDir().mkpath(dir.filePath(QStringLiteral("b")));
  const QString first = dir.filePath(QStringLiteral("a/page.emf")), second = dir.filePath(QStringLiteral("b/page.emf"));
  ASSERT_TRUE(QFile::copy(data("deping-example.emf"), first));
  ASSERT_TRUE(writeBytes(second, blankEmf(2540, 1270))); // one inch by half an inch
  // "page-2" is also the name of a third input: it moves on to "page-2-2".
  const QString third = dir.filePath(QStringLiteral("page-2.emf"));
  ASSERT_TRUE(writeBytes(third, blankEmf(1270, 1270)));
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("20"), QStringLiteral("--format"),
                         QStringLiteral("png"), QStringLiteral("--out"), out(), first, second, third});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  Magick::Image img;
  img.ping((out() + QStringLiteral("/page.png")).toStdString());
  EXPECT_EQ(img.columns(), 193u); // 244.22 mm at 20 dpi
  img.ping((out() + QStringLiteral("/page-2.png")).toStdString());
  EXPECT_EQ(img.columns(), 20u);
  img.ping((out() + QStringLiteral("/page-2-2.png")).toStdString());
  EXPECT_EQ(img.columns(), 10u);
  EXPECT_TRUE(r.err.contains(QStringLiteral("named page-2 instead"))) << r.err.toStdString();
}

TEST_F(FxRender, WorkersInParallelWriteWhatOneWorkerWrites) {
  const QStringList inputs = {data("stories2-00035.spl"), data("deping-example.emf"), data("gen-07-lines-curves.emf")};
  const QStringList names = {QStringLiteral("stories2-00035-0001"), QStringLiteral("deping-example"),
                             QStringLiteral("gen-07-lines-curves")};
  for (const char *format : {"png", "tif", "gif", "bmp", "jpg"}) {
    const QString ext = QLatin1Char('.') + QLatin1String(format);
    std::map<int, QString> folders;
    for (const int jobs : {1, 3}) {
      folders[jobs] = out() + QStringLiteral("/%1-%2").arg(QLatin1String(format)).arg(jobs);
      const Outcome r = run(QStringList{QStringLiteral("-j"), QString::number(jobs), QStringLiteral("--dpi"),
                                        QStringLiteral("60"), QStringLiteral("--format"), QLatin1String(format),
                                        QStringLiteral("--mkdir"), QStringLiteral("--out"), folders[jobs]} +
                            inputs);
      ASSERT_EQ(r.status, 0) << r.err.toStdString();
      // One line per page, in the order of the inputs, each naming its own file.
      const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      ASSERT_EQ(lines.size(), 3) << r.out.toStdString();
      for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(lines[i].endsWith(QLatin1Char('/') + names[i] + ext)) << lines[i].toStdString();
      QStringList expected;
      for (const QString &n : names)
        expected << n + ext;
      expected.sort();
      EXPECT_EQ(QDir(folders[jobs]).entryList(QDir::Files, QDir::Name), expected) << format;
    }
    for (const QString &n : names) {
      const QString serial = folders[1] + QLatin1Char('/') + n + ext,
                    parallel = folders[3] + QLatin1Char('/') + n + ext;
      if (ext != QStringLiteral(".jpg")) {
        EXPECT_EQ(readBytes(serial), readBytes(parallel)) << parallel.toStdString();
      } else {
        Magick::Image a(serial.toStdString()), b(parallel.toStdString());
        EXPECT_EQ(a.signature(), b.signature()) << parallel.toStdString();
      }
    }
  }
}

TEST_F(FxRender, AntialiasingTakesNoneOr2To20) {
  const QString page = dir.filePath(QStringLiteral("p.emf"));
  ASSERT_TRUE(writeBytes(page, blankEmf(1270, 1270)));
  EXPECT_TRUE(run({QStringLiteral("--help")}).out.contains(QStringLiteral("0 (none) or 2..20")));
  for (const char *aa : {"0", "2", "20"})
    EXPECT_EQ(run({QStringLiteral("--aa"), QLatin1String(aa), QStringLiteral("--out"), out(), page}).status, 0) << aa;
  for (const char *aa : {"1", "-1", "21"}) {
    const Outcome r = run({QStringLiteral("--aa"), QLatin1String(aa), QStringLiteral("--out"), out(), page});
    EXPECT_EQ(r.status, 2) << aa;
    EXPECT_TRUE(r.err.contains(QStringLiteral("0 (none) or a factor from 2 to 20"))) << r.err.toStdString();
  }
}

TEST_F(FxRender, APdfKeepsEveryPageThatWorkedUnlessStrict) {
  // At 1 dpi: a page whose frame is too large to render, and a 60 m long page whose image the PDF writer refuses
  // (a page nothing can show), between two good ones.
  const QString huge = dir.filePath(QStringLiteral("huge.emf")), longPage = dir.filePath(QStringLiteral("long.emf"));
  ASSERT_TRUE(writeBytes(huge, blankEmf(2000000000, 2000000000)));
  ASSERT_TRUE(writeBytes(longPage, blankEmf(6000000, 2540)));
  const QString pdf = dir.filePath(QStringLiteral("all.pdf"));
  const QStringList inputs{data("deping-example.emf"), huge, longPage, data("gen-07-lines-curves.emf")};
  Outcome r = run(QStringList{QStringLiteral("--dpi"), QStringLiteral("1"), QStringLiteral("--pdf"), pdf} + inputs);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(pdfPages(pdf), 2);
  EXPECT_TRUE(r.err.contains(QStringLiteral("huge.emf: page 1"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("long.emf: page 1: left out of the PDF"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("the PDF holds 2 page(s); 2 page(s) failed"))) << r.err.toStdString();

  // With --strict nothing is written, and the PDF of the earlier run stays as it was.
  const QByteArray before = readBytes(pdf);
  r = run(QStringList{QStringLiteral("--strict"), QStringLiteral("--dpi"), QStringLiteral("1"), QStringLiteral("--pdf"),
                      pdf} +
          inputs);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("no PDF written (--strict)"))) << r.err.toStdString();
  EXPECT_EQ(readBytes(pdf), before);
}

TEST_F(FxRender, MissingFoldersAreMadeOnlyWithMkdir) {
  const QString missing = dir.filePath(QStringLiteral("not/there"));
  Outcome r = run({QStringLiteral("--out"), missing, data("deping-example.emf")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("does not exist (give --mkdir to create it)"))) << r.err.toStdString();
  EXPECT_FALSE(QFileInfo::exists(missing));
  r = run({QStringLiteral("--pdf"), missing + QStringLiteral("/all.pdf"), data("deping-example.emf")});
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(QFileInfo::exists(missing));

  r = run({QStringLiteral("--mkdir"), QStringLiteral("--out"), missing, data("deping-example.emf")});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_TRUE(QFileInfo::exists(missing + QStringLiteral("/deping-example.jpg")));
  r = run({QStringLiteral("--mkdir"), QStringLiteral("--pdf"), dir.filePath(QStringLiteral("new/all.pdf")),
           data("deping-example.emf")});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_EQ(pdfPages(dir.filePath(QStringLiteral("new/all.pdf"))), 1);
}

TEST_F(FxRender, RendersEveryPageOfPdfAndPostScriptDocuments) {
  // An A4 portrait page and a Letter landscape page at 36 dpi: 298 x 421 and 396 x 306 pixels.
  const QString pdf = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.pdf");
  const QString ps = QStringLiteral(FOLVEX_TEST_DATA "/capture/two-pages.ps");
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("36"), QStringLiteral("--format"),
                         QStringLiteral("png"), QStringLiteral("--out"), out(), pdf, ps});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  const std::map<QString, QSize> expected = {{QStringLiteral("two-pages-0001.png"), {298, 421}},
                                             {QStringLiteral("two-pages-0002.png"), {396, 306}},
                                             {QStringLiteral("two-pages-2-0001.png"), {298, 421}},
                                             {QStringLiteral("two-pages-2-0002.png"), {396, 306}}};
  for (const auto &[name, size] : expected) {
    Magick::Image img;
    ASSERT_NO_THROW(img.ping((out() + "/" + name).toStdString())) << name.toStdString();
    EXPECT_EQ(QSize(int(img.columns()), int(img.rows())), size) << name.toStdString();
  }
}

TEST_F(FxRender, InputsThatAreNoPagesSayWhatTheyAre) {
  const QString gif = dir.filePath(QStringLiteral("picture.emf"));
  ASSERT_TRUE(writeBytes(gif, QByteArray("GIF89a\x01\x00\x01\x00\x80\x00", 12)));
  const Outcome r = run({QStringLiteral("--out"), out(), dir.filePath(QStringLiteral("a")), gif});
  EXPECT_EQ(r.status, 1);
  QDir().mkpath(dir.filePath(QStringLiteral("a")));
  const Outcome folder = run({QStringLiteral("--out"), out(), dir.filePath(QStringLiteral("a"))});
  EXPECT_TRUE(folder.err.contains(QStringLiteral("/a: is a folder"))) << folder.err.toStdString();
  EXPECT_TRUE(r.err.contains(
      QStringLiteral("picture.emf: not an EMF, spool, PDF or PostScript file: starts with \"GIF89a\\x01")))
      << r.err.toStdString();
}

TEST_F(FxRender, ControlCharactersAreShownEscapedAndKeptOutOfOutputNames) {
  const QString odd = dir.filePath(QStringLiteral("odd\nname\x1b[31m.emf"));
  ASSERT_TRUE(QFile::copy(data("deping-example.emf"), odd));
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("10"), QStringLiteral("--out"), out(), odd});
  ASSERT_EQ(r.status, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("odd\\nname\\x1B[31m.emf\tpage 1"))) << r.out.toStdString();
  EXPECT_FALSE(r.out.contains(QLatin1Char('\x1b')));
  EXPECT_EQ(r.out.count(QLatin1Char('\n')), 1) << "one line for the one page";
  EXPECT_EQ(QDir(out()).entryList(QDir::Files), QStringList{QStringLiteral("odd_name_[31m.jpg")});
}

TEST_F(FxRender, AFullDiskKeepsTheEarlierFilesAndSaysSo) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "mounting a small file system for a full disk needs root";
  const QString full = dir.filePath(QStringLiteral("full"));
  QDir().mkpath(full);
  if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                  QStringLiteral("size=4m"), QStringLiteral("tmpfs"), full}) != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here (no right to mount in this container)";
  struct Unmount {
    QString at;
    ~Unmount() { QProcess::execute(QStringLiteral("umount"), {at}); }
  } unmount{full};

  const QString page = data("deping-example.emf");
  const QString pdf = full + QStringLiteral("/all.pdf");
  std::map<QString, QByteArray> before;
  for (const char *format : {"png", "bmp", "jpg", "tif"}) {
    ASSERT_EQ(run({QStringLiteral("--dpi"), QStringLiteral("30"), QStringLiteral("--format"), QLatin1String(format),
                   QStringLiteral("--out"), full, page})
                  .status,
              0);
    const QString file = full + QStringLiteral("/deping-example.") + QLatin1String(format);
    before[file] = readBytes(file);
    ASSERT_FALSE(before[file].isEmpty());
  }
  ASSERT_EQ(run({QStringLiteral("--dpi"), QStringLiteral("30"), QStringLiteral("--pdf"), pdf, page}).status, 0);
  before[pdf] = readBytes(pdf);

  // Fill the disk to the last byte.
  {
    QFile filler(full + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(65536, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    const QByteArray byte(1, 'x');
    while (filler.write(byte) == 1 && filler.flush()) {
    }
  }
  for (const char *format : {"png", "bmp", "jpg", "tif"}) {
    const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("60"), QStringLiteral("--format"),
                           QLatin1String(format), QStringLiteral("--out"), full, page});
    EXPECT_EQ(r.status, 1) << format;
    EXPECT_TRUE(r.err.contains(QStringLiteral("No space left on device"))) << format << ": " << r.err.toStdString();
  }
  const Outcome r = run({QStringLiteral("--dpi"), QStringLiteral("60"), QStringLiteral("--pdf"), pdf, page});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("No space left on device"))) << r.err.toStdString();
  for (const auto &[file, bytes] : before)
    EXPECT_EQ(readBytes(file), bytes) << file.toStdString() << " changed";
  EXPECT_EQ(QDir(full).entryList(QDir::Files | QDir::Hidden).size(), before.size() + 1) << "temporary files left";
}

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  Magick::InitializeMagick(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
