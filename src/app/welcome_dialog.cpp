#include "app/welcome_dialog.h"

#include "app/frame_commands.h"
#include "app/frame_layout.h"
#include "app/frame_paint.h"
#include "settings/settings.h"
#include "platform/paths.h"
#include "platform/shell.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace frame {

QStringList WelcomeParagraphs() {
  return {
      QStringLiteral("   Tarvik Folvex! converts any printable document to the image of JPG/GIF/PNG/BMP formats."),
      QStringLiteral("   Tarvik Folvex! intercepts the pages you send to any acceptable printer. The printer may not "
                     "exist phisically, but it is to be installed to your system."),
      QStringLiteral("   Green lamps on the printer button inform that system is OK and it is ready to convert files."),
      QStringLiteral("   Red or Yellow lamps warn that there are no applicable printers or they are inaccessible. You "
                     "need to install one of recommended printers. Read Help for details."),
      QStringLiteral("   After you print your file it is to be catched by Tarvik Folvex! and converted to image set "
                     "(one image per one printed page) according to the current settings. Then, you can change image "
                     "size, format and quality, add background and date/time stamp."),
      QStringLiteral("   You can save images to the hard disk and/or send them via e-mail."),
      QStringLiteral("   While running, Tarvik Folvex! sets your printers to pause to avoid unwanted printout. After "
                     "closing, the printers status will be restored. You can control this process if you want, and "
                     "generate images and print to paper simultaneously."),
  };
}

QString WelcomeBody() { return WelcomeParagraphs().join(QStringLiteral("\n\n")); }

WelcomeDialog::WelcomeDialog(QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Welcome"));
  setObjectName(QStringLiteral("welcome"));
  setFont(StatusFont());
  // 276 x 258 dialog units of the 8-point dialog font.
  resize(414, 420);
  dontShow_ = new QCheckBox(QStringLiteral("Don't show this Welcome Screen at startup"), this);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  help_ = new QPushButton(QStringLiteral("Help"), this);
  ok_->setDefault(true);
  auto *row = new QHBoxLayout;
  row->addWidget(dontShow_);
  row->addStretch(1);
  row->addWidget(ok_);
  row->addWidget(help_);
  auto *col = new QVBoxLayout(this);
  col->addStretch(1);
  col->addLayout(row);
  col->setContentsMargins(15, 0, 15, 12);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
  connect(help_, &QPushButton::clicked, this, [this] {
    emit helpRequested();
    reject();
  });
}

QRect WelcomeDialog::panelRect() const { return QRect(15, 15, width() - 30, height() - 50 - 15); }

void WelcomeDialog::paintEvent(QPaintEvent *) {
  QPainter p(this);
  p.fillRect(rect(), Colour(kFrameFill));
  const QRect panel = panelRect();
  DrawPanel(p, Panel{panel, panel.adjusted(1, 1, -1, -1)}, kPanelFill, kFrameEdge, 0xFFFFFF);
  p.setFont(StatusFont());
  const QFontMetrics fm(p.font());
  p.setPen(Colour(kWelcomeTitle));
  const QRect title(panel.left(), panel.top() + 4, panel.width(), fm.height());
  p.drawText(title, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Welcome to Tarvik Folvex!"));
  p.setPen(Colour(kStatusText));
  const QRect body = QRect(panel.left() + 8, title.top() + 23, panel.width() - 16, panel.bottom() - title.top() - 27);
  p.drawText(body, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, WelcomeBody());
}

void StoreWelcomeChoice(bool dontShowAgain) { RegSetInt("lvStartHelpCheck", dontShowAgain ? 1 : 0); }

WelcomeDialog *ShowWelcomeScreen(QWidget *parent, bool windowModal) {
  if (RegGetInt("lvStartHelpCheck") >= 1)
    return nullptr;
  auto *dlg = new WelcomeDialog(parent);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(dlg, &WelcomeDialog::helpRequested, dlg, [] { OpenHelp(QString()); });
  QObject::connect(dlg, &QDialog::accepted, dlg, [dlg] { StoreWelcomeChoice(dlg->dontShowBox()->isChecked()); });
  if (windowModal)
    dlg->open();
  else
    dlg->show();
  return dlg;
}

} // namespace frame
