// The HTML gallery through the frame's command: its files byte for byte, thumbnails, a second run, failures, names
// that need encoding, and a real browser loading what was written.
#include "output_support.h"

#include "output/file_dialog.h"
#include "output/gallery.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

using namespace otest;

namespace {

QByteArray Read(const QString &path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

const char *kAuthor = "    <META NAME=Author CONTENT='Tarvik Folvex 2 - https://www.tarvik.example/'>";

class Gallery : public OutputTest {
protected:
  void Make(const QString &name, int filter, const QString &folder = {}) {
    dialogActions.push_back(Save(folder.isEmpty() ? dir.path() : folder, name, filter, false));
    ASSERT_TRUE(Run(frame::ID_SAVE_HTML));
    WaitForExport();
  }
};

} // namespace

TEST_F(Gallery, TripWithOnePngPageIsWrittenByteForByte) {
  AddPages({"7-0001.emf"});
  Make(QStringLiteral("Trip"), 3);
  EXPECT_EQ(Files(dir.path()), QStringList{"Trip.html"});
  EXPECT_EQ(Files(dir.filePath("Trip_files")),
            (QStringList{"0007-0001.png", "0007-0001_.png", "bottoms.html", "header.html"}));
  const QByteArray author(kAuthor);
  EXPECT_EQ(Read(dir.filePath("Trip.html")),
            "<HTML> <HEAD> <TITLE>Trip</TITLE>" + author +
                "  </HEAD>  <FRAMESET ROWS='24,*' FRAMEBORDER=yes BORDER=1 FRAMESPACING=0>"
                "    <FRAME SRC='Trip_files/header.html' NAME=head SCROLLING=NO>"
                "    <FRAMESET COLS='167,*' FRAMEBORDER=yes BORDER=1 FRAMESPACING=0>"
                "    <FRAME SRC='Trip_files/bottoms.html' NAME=bottoms>"
                "    <FRAME SRC='Trip_files/0007-0001.png' NAME=win_right>"
                "    </FRAMESET>  </FRAMESET></HTML>");
  EXPECT_EQ(Read(dir.filePath("Trip_files/header.html")),
            "<HTML> <HEAD> <TITLE>Trip</TITLE>" + author +
                " <STYLE TYPE='text/css'>"
                " body {background:#E0E0F8;margin:0px 0px;padding:3px 50px;vertical-align:bottom;}"
                " p.hd {font-family:Arial,Tahoma,Helvetica;font-size:10pt;font-style:italic;font-weight:bold;"
                "color:#0000A0;text-align:right;}"
                " </STYLE>  </HEAD> <p class=hd>Trip</p>  </body></HTML>");
  EXPECT_EQ(Read(dir.filePath("Trip_files/bottoms.html")),
            "<HTML> <HEAD> <TITLE>Trip</TITLE>" + author +
                " <STYLE TYPE='text/css'>"
                " body {background:#E0E0F8;margin:10px 2px;padding:0;vertical-align:top;line-height:80%;}"
                " a:link,a:visited,a:hover {font-family:Arial,Tahoma,Helvetica;font-size:8pt;font-style:normal;"
                "font-weight:bold;text-decoration:none;}"
                " a:link {color:#0000FF;} a:visited {color:#6666BB;} a:hover {color:#F00000;}"
                " img {margin:10px 0 0 0;} </STYLE>  </HEAD>  <BODY><CENTER>"
                " <A HREF='0007-0001.png' TARGET=win_right><IMG SRC='0007-0001_.png' VSPACE=2 BORDER=1><BR>"
                "0007-0001</A><BR>  </CENTER></BODY></HTML>");
  // A page of 20 x 10 mm: the thumbnail fits 130 x 130, twice as wide as high.
  EXPECT_EQ(QImage(dir.filePath("Trip_files/0007-0001_.png")).size(), QSize(130, 65));
  EXPECT_EQ(QImage(dir.filePath("Trip_files/0007-0001.png")).size(), QSize(79, 40)) << "100 dpi";
  EXPECT_EQ(opened, std::vector<QString>{dir.filePath("Trip.html")});
  EXPECT_EQ(RegGetInt("PNG_Default"), 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Gallery, ASecondRunWithFewerPagesLeavesNothingOfTheFirst) {
  AddPages({"1-0001.emf", "1-0002.emf", "1-0003.emf"});
  Make(QStringLiteral("Album"), 1);
  EXPECT_EQ(Files(dir.filePath("Album_files")).size(), 8);
  capture::pageStore().pages.erase(2);
  capture::pageStore().pages.erase(1);
  answers = {QMessageBox::Yes}; // Album.html already exists. Replace?
  Make(QStringLiteral("Album"), 2);
  EXPECT_EQ(messages.at(0).text, dir.filePath("Album.html") + QStringLiteral(" already exists. Replace?"));
  EXPECT_EQ(Files(dir.filePath("Album_files")),
            (QStringList{"0001-0001.gif", "0001-0001_.gif", "bottoms.html", "header.html"}));
  EXPECT_TRUE(Read(dir.filePath("Album.html")).contains("Album_files/0001-0001.gif' NAME=win_right>"));
}

TEST_F(Gallery, AFolderThatCannotBeReplacedEndsTheRunWithItsError) {
  AddPages({"1-0001.emf"});
  QDir().mkpath(dir.filePath("Box_files/inner"));
  Make(QStringLiteral("Box"), 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, QStringLiteral("Error 0009836"));
  EXPECT_EQ(messages[0].caption, QStringLiteral("Tarvik Folvex message"));
  EXPECT_FALSE(messages[0].owned);
  EXPECT_EQ(Files(dir.path()), QStringList{}) << "nothing written";
  EXPECT_TRUE(opened.empty());
}

TEST_F(Gallery, AMainPageThatCannotBeWrittenIsToldAndTheRestIsWritten) {
  AddPages({"1-0001.emf"});
  QDir().mkpath(dir.filePath("Walk.html")); // a folder in the main page's place
  answers = {QMessageBox::Yes};             // Replace?
  Make(QStringLiteral("Walk"), 1);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, QStringLiteral("HTML file is not created!"));
  EXPECT_EQ(messages[1].caption, QStringLiteral("Tarvik Folvex! v.2.1"));
  EXPECT_EQ(Files(dir.filePath("Walk_files")).size(), 4);
  EXPECT_EQ(opened, std::vector<QString>{dir.filePath("Walk.html")}) << "the shell is still asked";
}

TEST_F(Gallery, TifDefaultPreselectsJpgAndTheLinksCarryAnyName) {
  settings().JPG_Default = false;
  settings().TIF_Default = true;
  AddPages({"2-0001.emf", "2-0002.emf"});
  int preselected = 0;
  dialogActions.push_back([&](QDialog &d) {
    auto &fd = dynamic_cast<QFileDialog &>(d);
    preselected = output::ChosenFilter(fd);
    EXPECT_EQ(fd.nameFilters().size(), 4) << "no TIF";
    return Save(dir.path(), QStringLiteral("My Trip #2 \u00e9t\u00e9"), 0, false)(d);
  });
  ASSERT_TRUE(Run(frame::ID_SAVE_HTML));
  WaitForExport();
  EXPECT_EQ(preselected, 1);
  EXPECT_EQ(RegGetInt("JPG_Default"), 1);
  EXPECT_EQ(RegGetInt("TIF_Default"), 0);
  const QString name = QStringLiteral("My Trip #2 \u00e9t\u00e9");
  const QByteArray main = Read(dir.filePath(name + ".html"));
  EXPECT_TRUE(main.contains("<TITLE>My Trip #2 &#233;t&#233;</TITLE>")) << main.toStdString();
  EXPECT_TRUE(main.contains("SRC='My%20Trip%20%232%20%C3%A9t%C3%A9_files/header.html'"));
  EXPECT_FALSE(main.contains('\n') || main.contains('\r'));
  EXPECT_EQ(Files(dir.filePath(name + "_files")).size(), 6);
}

// The gallery in a real browser: headless Chromium loads a page that holds the gallery in a frame and reports, in
// its dumped DOM, what each frame loaded, each thumbnail's natural size and each link's target.
TEST_F(Gallery, ABrowserLoadsTheFramesThumbnailsAndLinks) {
  QString browser;
  for (const char *name : {"chromium", "chromium-browser", "google-chrome"})
    if (browser.isEmpty())
      browser = QStandardPaths::findExecutable(QLatin1String(name));
  if (browser.isEmpty())
    GTEST_SKIP() << "no Chromium browser is installed (Debian package chromium)";
  AddPages({"9-0001.emf", "9-0002.emf"}, 2000, 1000);
  capture::pageStore().pages.push_back(capture::PageRecord{"9-0003.emf", Page(1000, 2000), {}, 0, 0, 0, 0, 0.0});
  const QString folder = dir.filePath(QStringLiteral("out #1 \u00e9"));
  QDir().mkpath(folder);
  const QString name = QStringLiteral("Gal lery#\u00e9");
  Make(name, 3, folder);
  ASSERT_TRUE(messages.empty());

  QFile harness(dir.filePath("harness.html"));
  ASSERT_TRUE(harness.open(QIODevice::WriteOnly));
  harness.write(("<html><body><iframe id=g width=900 height=700 src='" +
                 QString::fromLatin1(QUrl::fromLocalFile(folder + "/" + name + ".html").toEncoded()) +
                 "'></iframe><pre id=result>pending</pre><script>"
                 "window.onload = function() {"
                 "  var top = document.getElementById('g').contentWindow, r = {frames: [], thumbs: [], links: []};"
                 "  for (var i = 0; i < top.frames.length; ++i) {"
                 "    var f = top.frames[i], d = f.document, img = d.images[0];"
                 "    r.frames.push({name: f.name, url: f.location.href, state: d.readyState,"
                 "                   w: img ? img.naturalWidth : -1, h: img ? img.naturalHeight : -1});"
                 "  }"
                 "  var b = top.frames['bottoms'].document;"
                 "  for (var i = 0; i < b.images.length; ++i)"
                 "    r.thumbs.push({url: b.images[i].src, w: b.images[i].naturalWidth, h: b.images[i].naturalHeight});"
                 "  for (var i = 0; i < b.links.length; ++i)"
                 "    r.links.push({url: b.links[i].href, target: b.links[i].target});"
                 "  document.getElementById('result').textContent = JSON.stringify(r);"
                 "};</script></body></html>")
                    .toUtf8());
  harness.close();

  // The browser's profile and its socket folder stay short: a socket path may not be longer than 107 bytes.
  QTemporaryDir profile(QStringLiteral("/tmp/folvex-browser-XXXXXX"));
  ASSERT_TRUE(profile.isValid());
  QProcess chrome;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TMPDIR"), profile.path());
  chrome.setProcessEnvironment(env);
  chrome.start(browser,
               {"--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--no-first-run", "--user-data-dir=" + profile.path(),
                "--disable-web-security", "--allow-file-access-from-files", "--virtual-time-budget=10000", "--dump-dom",
                QUrl::fromLocalFile(harness.fileName()).toString()});
  ASSERT_TRUE(chrome.waitForFinished(120000)) << "the browser did not end";
  const QString dom = QString::fromUtf8(chrome.readAllStandardOutput());
  const auto m = QRegularExpression(QStringLiteral("<pre id=\"result\">(.*)</pre>")).match(dom);
  ASSERT_TRUE(m.hasMatch()) << dom.toStdString() << chrome.readAllStandardError().toStdString();
  QString json = m.captured(1);
  json.replace(QStringLiteral("&amp;"), QStringLiteral("&")).replace(QStringLiteral("&quot;"), QStringLiteral("\""));
  const QJsonObject r = QJsonDocument::fromJson(json.toUtf8()).object();
  ASSERT_FALSE(r.isEmpty()) << json.toStdString();

  const QString files = folder + "/" + name + "_files/";
  const auto localFile = [](const QJsonValue &v) { return QUrl(v.toString()).toLocalFile(); };
  const QJsonArray frames = r["frames"].toArray();
  ASSERT_EQ(frames.size(), 3);
  EXPECT_EQ(frames[0]["name"].toString(), QStringLiteral("head"));
  EXPECT_EQ(localFile(frames[0]["url"]), files + "header.html");
  EXPECT_EQ(frames[1]["name"].toString(), QStringLiteral("bottoms"));
  EXPECT_EQ(localFile(frames[1]["url"]), files + "bottoms.html");
  EXPECT_EQ(frames[2]["name"].toString(), QStringLiteral("win_right"));
  EXPECT_EQ(localFile(frames[2]["url"]), files + "0009-0001.png");
  for (const auto &f : frames)
    EXPECT_EQ(f.toObject()["state"].toString(), QStringLiteral("complete"));
  EXPECT_EQ(frames[2]["w"].toInt(), 79) << "the first page shows in the page frame";
  EXPECT_EQ(frames[2]["h"].toInt(), 40);

  const QJsonArray thumbs = r["thumbs"].toArray();
  const QJsonArray links = r["links"].toArray();
  ASSERT_EQ(thumbs.size(), 3);
  ASSERT_EQ(links.size(), 3);
  const char *suffixes[] = {"0009-0001", "0009-0002", "0009-0003"};
  for (int i = 0; i < 3; ++i) {
    const QString thumb = files + suffixes[i] + "_.png";
    EXPECT_EQ(localFile(thumbs[i]["url"]), thumb);
    const QSize natural(thumbs[i]["w"].toInt(), thumbs[i]["h"].toInt());
    EXPECT_EQ(natural, QImage(thumb).size()) << "thumbnail " << i << " is not broken";
    EXPECT_EQ(natural, i < 2 ? QSize(130, 65) : QSize(65, 130));
    EXPECT_EQ(localFile(links[i]["url"]), files + suffixes[i] + ".png");
    EXPECT_EQ(links[i]["target"].toString(), QStringLiteral("win_right"));
  }
}

TEST_F(Gallery, WhileAnyRenderOfTheRunDrawsThePreviewShowsThePageList) {
  AddPages({"1-0001.emf", "1-0002.emf", "1-0003.emf", "1-0004.emf"});
  // Called at the end of every page render, while it still draws. Page i + 1 draws while page i is written and its
  // thumbnail made on the writing thread: here page i + 1 waits until that thumbnail is written.
  auto states = std::make_shared<std::vector<int>>();
  const QString files = dir.filePath(QStringLiteral("Walk_files/"));
  render::setPageRotationSource([states, files](int) {
    const QString thumb = files + QStringLiteral("0001-%1_.jpg").arg(states->size(), 4, 10, QLatin1Char('0'));
    for (int wait = 0; !states->empty() && wait < 500 && !QFile::exists(thumb); ++wait)
      QThread::msleep(10);
    states->push_back(capture::pageStore().viewState.load());
    return 0.0;
  });
  Make(QStringLiteral("Walk"), 1);
  render::setPageRotationSource([](int page) { return capture::pageStore().rotationOf(page); });
  EXPECT_EQ(*states, std::vector<int>(4, capture::kViewPages));
  EXPECT_EQ(capture::pageStore().viewState.load(), capture::kViewImageReady);
}
