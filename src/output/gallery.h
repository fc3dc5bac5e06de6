// The HTML gallery: a frameset main page beside a folder with one image and one thumbnail per page, a title page
// and a navigation page with a thumbnail link per page.
#pragma once

#include "output/export.h"

#include <QFile>
#include <QString>
#include <memory>
#include <string>

namespace output {

// The maker's web address named by the author element of every gallery page.
inline constexpr const char *kMakerWebAddress = "https://www.tarvik.example/";
inline constexpr int kGalleryThumbnailBox = 130;
inline constexpr double kGalleryThumbnailResolution = 40.0;

// Text of a name inside HTML (markup characters and non-ASCII as character references) and inside a link
// (percent-encoded UTF-8 where the name needs it); both leave letters, digits, "-", "." and "_" as they are.
std::string HtmlText(const QString &text);
std::string LinkText(const QString &text);

// The pages, byte for byte: the frameset, the title page, and the navigation page in its three parts (the head
// before the first link, one link per page, the tail).
std::string GalleryMainPage(const QString &name, const std::string &firstSuffix, const char *extension);
std::string GalleryHeaderPage(const QString &name);
std::string GalleryNavigationHead(const QString &name);
std::string GalleryNavigationLink(const std::string &suffix, const char *extension);
inline constexpr const char *kGalleryNavigationTail = "  </CENTER></BODY></HTML>";

// The writer of GenerateHtmlGallery.
class GalleryJob : public ExportJob {
public:
  GalleryJob(const QString &folder, const QString &name, render::FormatCode format);
  bool begin(ExportRun &run) override;
  bool writePage(ExportRun &run, const ExportPage &page, const render::RenderedPage &image) override;
  void end(ExportRun &run, bool completed) override;

  QString mainPagePath() const { return folder_ + name_ + QStringLiteral(".html"); }
  QString galleryFolder() const { return folder_ + name_ + QStringLiteral("_files/"); }

private:
  QString folder_;
  QString name_;
  render::FormatCode format_;
  std::unique_ptr<QFile> navigation_; // open while pages are added
};

// The gallery command (Ctrl+W, button 7): file dialog, default format, replace question, options, worker.
void SaveHtmlGallery();

} // namespace output
