// Mailing pages: all pages rendered into the work folder and attached to a new message in the user's mail program
// (as image files, one PDF, one multipage TIFF or one animated GIF), or the current image alone ("Send to...").
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;

namespace output {

// Mail formats: 1..5 the image formats (their format codes), 6 one PDF, 7 one multipage TIFF, 8 one animated GIF.
enum MailFormat { MailPdf = 6, MailMultipageTiff = 7, MailMultipageGif = 8 };

// "KodEmailFormat": a missing value, 0 or less, or a number above 8 counts as 1 (JPG).
int StoredMailFormat();

// The mail format dialog: the format list and the "Image Options" box.
class lvDlgSelectFormatForMail : public QDialog {
  Q_OBJECT
public:
  // mailFormat selects its item (7 and 8 have none); invokeOptions ticks "Image Options".
  lvDlgSelectFormatForMail(QWidget *owner, int mailFormat, bool invokeOptions);
  QComboBox *formatList() const { return list_; }
  QCheckBox *imageOptionsBox() const { return box_; }
  // The working mail format: the chosen item's position + 1, or the format it opened with.
  int mailFormat() const { return format_; }
  bool invokeImageOptions() const;

private:
  QComboBox *list_;
  QCheckBox *box_;
  int format_;
};

// The mail command (Ctrl+M, the mail button): the format dialog, the format's options, the worker writing into the
// work folder with the mail flag set. Needs a valid current page to start the worker.
void MailPages();
// "Send to...": the current image as work folder + "Document" + its page number + the default format's extension
// (".jpg", ".gif", ".png", else ".bmp"), attached to a new message. The file stays until the program starts again:
// the mail program may read it long after it was handed over.
void SendCurrentImage();
// At start: removes the files that "Send to..." left in the work folder.
void DeleteSentFiles();

// Mails the files of a finished export (the mail flag's sender); any thread. A failure or a split into several
// messages is told to the user on the GUI thread.
void MailAllFiles(const std::vector<std::string> &files);

} // namespace output
