#include "output/mail_pages.h"

#include "output/export.h"
#include "output/format_options.h"
#include "output/format_sheet.h"
#include "output/mail_files.h"
#include "output/messages.h"
#include "output/pdf_export.h"
#include "output/save_disk.h"
#include "platform/paths.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QRegularExpression>
#include <QThreadPool>
#include <QVBoxLayout>

namespace output {

namespace {

constexpr const char *kMailerCaption = "Tarvik Folvex! Mailer Message";

const char *const kMailFormatItems[] = {
    "JPG (JPEG file interchange format)",  "GIF (Graphics Interchange Format)",
    "PNG (Portable Network Graphics)",     "BMP (Windows Bitmap)",
    "TIF (TIFF Tagged Image File Format)", "Multipage: PDF (Portable Document Format)",
};

QString WorkFolder() {
  const QString folder = QString::fromStdString(platform::workFolder());
  QDir().mkpath(folder);
  return folder;
}

// Tells the user what came of a mail on the GUI thread, without waiting for it.
void TellOutcome(const MailOutcome &outcome) {
  if (outcome.message.empty())
    return;
  MessageRequest m;
  m.text = QString::fromStdString(outcome.message);
  m.caption = QString::fromLatin1(kMailerCaption);
  m.icon = outcome.sent ? QMessageBox::Information : QMessageBox::Critical;
  m.systemModal = true;
  m.ownerless = true;
  QCoreApplication *app = QCoreApplication::instance();
  if (!app)
    return;
  QMetaObject::invokeMethod(
      app, [m] { ShowMessage(m); }, Qt::QueuedConnection);
}

} // namespace

int StoredMailFormat() {
  const int stored = RegGetInt("KodEmailFormat");
  return stored <= 0 || stored > MailMultipageGif ? 1 : stored;
}

// ---- the format dialog ----

lvDlgSelectFormatForMail::lvDlgSelectFormatForMail(QWidget *owner, int mailFormat, bool invokeOptions)
    : QDialog(owner), format_(mailFormat) {
  setObjectName(QStringLiteral("lvDlgSelectFormatForMail"));
  setWindowTitle(QStringLiteral("Tarvik Folvex!"));
  auto *layout = new QVBoxLayout(this);
  auto *label = new QLabel(QStringLiteral("Select inside format:"), this);
  list_ = new QComboBox(this);
  list_->setObjectName(QStringLiteral("formatList"));
  for (const char *item : kMailFormatItems)
    list_->addItem(QString::fromLatin1(item));
  // Multipage TIFF and GIF have no item: a stored 7 or 8 opens with none selected and stays chosen.
  list_->setCurrentIndex(mailFormat >= 1 && mailFormat <= list_->count() ? mailFormat - 1 : -1);
  label->setBuddy(list_);
  box_ = new QCheckBox(QStringLiteral("Image Options"), this);
  box_->setObjectName(QStringLiteral("imageOptions"));
  box_->setChecked(invokeOptions);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  layout->addWidget(label);
  layout->addWidget(list_);
  layout->addWidget(box_);
  layout->addWidget(buttons);
  connect(list_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0)
      format_ = index + 1;
  });
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool lvDlgSelectFormatForMail::invokeImageOptions() const { return box_->isChecked(); }

// ---- mailing ----

void MailAllFiles(const std::vector<std::string> &files) {
  if (files.empty())
    return;
  TellOutcome(MailFiles(files));
}

void MailPages() {
  if (RefuseWhileExporting())
    return;
  const int current = StoredMailFormat();
  lvDlgSelectFormatForMail dialog(host().window, current, SaveFileOpt());
  if (RunDialog(dialog) != QDialog::Accepted)
    return;
  const int f = dialog.mailFormat();
  const QString folder = WorkFolder();
  const QString name = QStringLiteral("Document");
  if (f != current)
    RegSetInt("KodEmailFormat", f);
  CommitSaveFileOpt(dialog.invokeImageOptions());

  QWidget *owner = host().window;
  if (f >= render::FormatJPG && f <= render::FormatTIF) {
    SetDefaultFormat(f, host().rerender);
  } else if (f == MailPdf) {
    if (SaveFileOpt())
      ShowPdfInsideFormat(owner, 2);
    SyncInsideFormat(); // whether or not the inside format was shown
  } else if (f == MailMultipageTiff) {
    SetOutputMode(ModeTiff);
    SetDefaultFormat(render::FormatTIF, host().rerender);
  } else if (f == MailMultipageGif) {
    SetDefaultFormat(render::FormatGIF, host().rerender);
  }
  if (SaveFileOpt())
    ShowDefaultFormatOptions(owner, host().rerender);

  const auto &store = capture::pageStore();
  if (store.currentPage < 0 || store.currentPage >= store.pageCount() || ExportRunning()) {
    if (f > render::FormatTIF)
      SetOutputMode(ModeImageFiles);
    return;
  }
  setMailAllFiles(&MailAllFiles);
  MailFlag() = true;
  bool started = false;
  if (f > render::FormatTIF) {
    SetOutputMode(f - render::FormatTIF);
    started = GenerateMultipage(f - render::FormatTIF, folder, name);
  } else {
    started = GenerateImageFiles(folder, name);
  }
  if (!started)
    MailFlag() = false;
}

// ---- "Send to..." ----

namespace {

// The page number part of a page file name: the four characters before ".emf" (fewer when the name is shorter).
QString PageNumberOf(const std::string &pageName) {
  QString base = QString::fromStdString(pageName);
  const int dot = int(base.lastIndexOf(QLatin1Char('.')));
  if (dot >= 0)
    base.truncate(dot);
  base = base.right(4);
  base.remove(QLatin1Char('/'));
  return base.isEmpty() ? QStringLiteral("0000") : base;
}

render::FormatCode SendToFormat(const Settings &s) {
  if (s.JPG_Default)
    return render::FormatJPG;
  if (s.GIF_Default)
    return render::FormatGIF;
  if (s.PNG_Default)
    return render::FormatPNG;
  return render::FormatBMP;
}

const QRegularExpression &SentFileName() {
  static const QRegularExpression re(QStringLiteral("^Document[^/]{1,4}\\.(jpg|gif|png|bmp)$"));
  return re;
}

} // namespace

void SendCurrentImage() {
  const auto &store = capture::pageStore();
  if (store.currentPage < 0 || store.currentPage >= store.pageCount() || !store.currentImage.isValid())
    return;
  if (host().showPage)
    host().showPage(QImage()); // the preview shows the current image
  const render::FormatCode code = SendToFormat(settings());
  const QString path = WorkFolder() + QStringLiteral("Document") +
                       PageNumberOf(store.pages[size_t(store.currentPage)].name) +
                       QLatin1String(render::FormatExtension(code));
  QFile::remove(path);
  const QString reason = WriteImageFile(store.currentImage, path, code);
  if (!reason.isEmpty()) {
    MessageRequest m;
    m.text = QStringLiteral("Cannot write\n%1\n%2").arg(path, reason);
    m.caption = QString::fromLatin1(kMailerCaption);
    m.icon = QMessageBox::Warning;
    m.owner = host().window;
    ShowMessage(m);
    return;
  }
  // The mail program may take seconds to take the message: the window goes on meanwhile. The file is not deleted
  // here, as the mail program may read it only when the message is sent.
  const std::string file = path.toStdString();
  QThreadPool::globalInstance()->start([file] { TellOutcome(MailFiles({file})); });
}

void DeleteSentFiles() {
  QDir dir(QString::fromStdString(platform::workFolder()));
  if (!dir.exists())
    return;
  for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden))
    if (SentFileName().match(name).hasMatch())
      dir.remove(name);
}

} // namespace output
