// The batch renderer, end to end: the program is run on sample files as a user would run it.
#include <Magick++.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using MagickCore::Quantum;

namespace {

struct Outcome {
  int status = -1;
  QString out, err;
};

class FxRender : public ::testing::Test {
protected:
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

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  Magick::InitializeMagick(argv[0]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
