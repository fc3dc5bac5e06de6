#include "output/gallery.h"

#include "output/file_dialog.h"
#include "output/format_options.h"
#include "output/format_sheet.h"
#include "output/messages.h"
#include "output/output_names.h"
#include "output/save_disk.h"
#include "settings/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace output {

namespace {

std::string author() {
  return std::string("    <META NAME=Author CONTENT='Tarvik Folvex 2 - ") + kMakerWebAddress + "'>";
}

std::string titleHead(const QString &name) {
  return "<HTML>" + (" <HEAD> <TITLE>" + HtmlText(name) + "</TITLE>") + author();
}

bool writeWhole(const QString &path, const std::string &bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return false;
  f.write(bytes.data(), qint64(bytes.size()));
  return true;
}

MessageRequest applicationMessage(const char *text) {
  MessageRequest m;
  m.text = QString::fromLatin1(text);
  m.caption = ApplicationTitle();
  m.icon = QMessageBox::Warning;
  return m;
}

} // namespace

std::string HtmlText(const QString &text) {
  std::string out;
  for (const char32_t c : text.toUcs4()) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    case '\'':
      out += "&#39;";
      break;
    default:
      if (c < 0x20 || c > 0x7E)
        out += "&#" + std::to_string(uint32_t(c)) + ";";
      else
        out += char(c);
    }
  }
  return out;
}

std::string LinkText(const QString &text) { return QUrl::toPercentEncoding(text).toStdString(); }

std::string GalleryMainPage(const QString &name, const std::string &firstSuffix, const char *extension) {
  const std::string n = LinkText(name);
  std::string s = titleHead(name);
  s += "  </HEAD>";
  s += "  <FRAMESET ROWS='24,*' FRAMEBORDER=yes BORDER=1 FRAMESPACING=0>";
  s += "    <FRAME SRC='" + n + "_files/header.html' NAME=head SCROLLING=NO>";
  s += "    <FRAMESET COLS='167,*' FRAMEBORDER=yes BORDER=1 FRAMESPACING=0>";
  s += "    <FRAME SRC='" + n + "_files/bottoms.html' NAME=bottoms>";
  s += "    <FRAME SRC='" + n + "_files/" + LinkText(QString::fromStdString(firstSuffix)) + extension + "'" +
       " NAME=win_right>";
  s += "    </FRAMESET>";
  s += "  </FRAMESET>";
  s += "</HTML>";
  return s;
}

std::string GalleryHeaderPage(const QString &name) {
  std::string s = titleHead(name);
  s += " <STYLE TYPE='text/css'>";
  s += " body {background:#E0E0F8;margin:0px 0px;padding:3px 50px;vertical-align:bottom;}";
  s += " p.hd {font-family:Arial,Tahoma,Helvetica;font-size:10pt;font-style:italic;font-weight:bold;color:#0000A0;"
       "text-align:right;}";
  s += " </STYLE>";
  s += "  </HEAD>";
  s += " <p class=hd>" + HtmlText(name) + "</p>";
  s += "  </body>";
  s += "</HTML>";
  return s;
}

std::string GalleryNavigationHead(const QString &name) {
  std::string s = titleHead(name);
  s += " <STYLE TYPE='text/css'>";
  s += " body {background:#E0E0F8;margin:10px 2px;padding:0;vertical-align:top;line-height:80%;}";
  s += " a:link,a:visited,a:hover {font-family:Arial,Tahoma,Helvetica;font-size:8pt;font-style:normal;"
       "font-weight:bold;text-decoration:none;}";
  s += " a:link {color:#0000FF;} a:visited {color:#6666BB;} a:hover {color:#F00000;}";
  s += " img {margin:10px 0 0 0;}";
  s += " </STYLE>";
  s += "  </HEAD>";
  s += "  <BODY><CENTER>";
  return s;
}

std::string GalleryNavigationLink(const std::string &suffix, const char *extension) {
  const std::string link = LinkText(QString::fromStdString(suffix));
  return " <A HREF='" + link + extension + "' TARGET=win_right><IMG SRC='" + link + "_" + extension +
         "' VSPACE=2 BORDER=1><BR>" + HtmlText(QString::fromStdString(suffix)) + "</A><BR>";
}

// ---- the worker ----

GalleryJob::GalleryJob(const QString &folder, const QString &name, render::FormatCode format)
    : folder_(folder), name_(name), format_(format) {}

bool GalleryJob::begin(ExportRun &run) {
  // The gallery folder of an earlier run goes first: its files, then the folder itself. A link in its place is
  // removed as a link, never followed.
  QString folder = galleryFolder();
  folder.chop(1);
  const QFileInfo info(folder);
  if (info.isSymLink()) {
    QFile::remove(folder);
  } else if (info.isDir()) {
    QDir dir(folder);
    for (const QString &file : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
      dir.remove(file);
    QDir().rmdir(folder);
  }
  if (!QDir().mkdir(folder)) {
    MessageRequest m;
    m.text = QStringLiteral("Error 0009836");
    m.caption = QStringLiteral("Tarvik Folvex message");
    m.ownerless = true;
    run.ask(m);
    return false;
  }
  const std::string firstSuffix = run.pageCount() > 0 ? capture::PageSuffix(run.page(0).record.name) : "0000-0000";
  if (!writeWhole(mainPagePath(), GalleryMainPage(name_, firstSuffix, render::FormatExtension(format_))))
    run.ask(applicationMessage("HTML file is not created!"));
  if (!writeWhole(galleryFolder() + QStringLiteral("header.html"), GalleryHeaderPage(name_)))
    run.ask(applicationMessage("header.html file is not created!\nError 00012934"));
  navigation_ = std::make_unique<QFile>(galleryFolder() + QStringLiteral("bottoms.html"));
  if (navigation_->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    const std::string head = GalleryNavigationHead(name_);
    navigation_->write(head.data(), qint64(head.size()));
  } else {
    navigation_.reset();
    run.ask(applicationMessage("bottoms.html file not created!\nError 00065482"));
  }
  return true;
}

bool GalleryJob::writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) {
  const std::string suffix = capture::PageSuffix(page.record.name);
  const char *extension = render::FormatExtension(format_);
  const QString folder = galleryFolder();
  const QString imagePath = folder + QString::fromStdString(suffix) + QLatin1String(extension);
  const ExportRun::WriteResult written = run.writeImage(image, imagePath, format_);
  if (written == ExportRun::WriteResult::Stop)
    return false;
  if (written == ExportRun::WriteResult::Written)
    run.setOutputFile(page.index, imagePath);

  // The thumbnail: the page drawn small, fitted into 130 x 130, turned like the page.
  const QString thumbPath = folder + QString::fromStdString(suffix) + QStringLiteral("_") + QLatin1String(extension);
  QString reason;
  Magick::Image thumb;
  try {
    render::RenderOptions options;
    options.thumbnail = true;
    thumb = run.renderPage(page, options, kGalleryThumbnailResolution).magick();
    if (thumb.isValid() && thumb.columns() > 0) {
      thumb.scale(Magick::Geometry(kGalleryThumbnailBox, kGalleryThumbnailBox));
      if (page.record.rotation != 0.0)
        thumb.rotate(page.record.rotation); // the thumbnail render is not turned
    } else {
      reason = QStringLiteral("the page cannot be drawn at this size");
    }
  } catch (const std::exception &e) {
    reason = QString::fromLocal8Bit(e.what());
  }
  if (!reason.isEmpty()) {
    if (!run.reportFailure(thumbPath, reason))
      return false;
  } else if (run.writeImage(thumb, thumbPath, format_) == ExportRun::WriteResult::Stop) {
    return false;
  }
  if (navigation_ && written == ExportRun::WriteResult::Written) {
    const std::string link = GalleryNavigationLink(suffix, extension);
    navigation_->write(link.data(), qint64(link.size()));
  }
  return true;
}

void GalleryJob::end(ExportRun &run, bool completed) {
  if (!completed) {
    navigation_.reset(); // what was written stays; the page is not opened
    return;
  }
  if (navigation_) {
    navigation_->write(kGalleryNavigationTail);
    navigation_.reset();
  }
  run.openDocument(mainPagePath());
}

// ---- the command ----

void SaveHtmlGallery() {
  if (RefuseWhileExporting())
    return;
  const auto choice =
      RunImageSaveDialog(false, [](const SaveChoice &c) { return c.folder + c.name + QStringLiteral(".html"); });
  if (!choice)
    return;
  const auto &store = capture::pageStore();
  if (store.currentPage < 0 || store.currentPage >= store.pageCount() || ExportRunning())
    return;
  if (host().abortRequest)
    *host().abortRequest = false;
  StartExport(std::make_unique<GalleryJob>(choice->folder, choice->name, render::DefaultFormat(settings())));
}

} // namespace output
