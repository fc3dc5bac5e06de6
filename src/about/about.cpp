// The about box of the Folvex system: the two programs, their versions and where the sample pages that come with
// them are from. Exported as one C function so that the program can look it up by name.
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QString AboutText() {
  return QString::fromUtf8(
             "<h3>Tarvik Folvex! v.%1</h3>"
             "<p>Turns printed documents into pictures: print to a paused printer, and every page becomes an image "
             "(JPG, GIF, PNG, BMP or TIF), an HTML gallery, one PDF, mail attachments or the wallpaper.</p>"
             "<p><b>Tarvik Quenby v.1.0</b> (qvt), the printer monitor, pauses the printers while Folvex runs and "
             "restores them when it ends.</p>"
             "<p>Built with Qt %2.</p>"
             "<p><b>Sample pages.</b> The sample print job that comes with the programs holds three pages taken from "
             "public test data:</p>"
             "<ul>"
             "<li>page 1, golfer.emf from the Aspose.Imaging for .NET examples, under the MIT licence;</li>"
             "<li>page 2, vector_image.emf from the Apache POI test data, under the Apache License 2.0;</li>"
             "<li>page 3, the chart image of testMSChart-govdocs-428996.pptx from the Apache Tika test data, under "
             "the Apache License 2.0.</li>"
             "</ul>"
             "<p>Each file is shipped unchanged; the licences are those of their projects.</p>")
      .arg(QString::fromLatin1(FOLVEX_VERSION), QString::fromLatin1(qVersion()));
}

} // namespace

// Shows the about box modally over owner (a QWidget *, or null) and returns when it is closed. Returns 1.
extern "C" __attribute__((visibility("default"))) int AboutTarvikSystem(void *owner) {
  QDialog box(static_cast<QWidget *>(owner));
  box.setObjectName(QString::fromUtf8("aboutBox"));
  box.setWindowTitle(QString::fromUtf8("About Tarvik Folvex!"));
  auto *layout = new QVBoxLayout(&box);
  auto *text = new QLabel(AboutText(), &box);
  text->setObjectName(QString::fromUtf8("aboutText"));
  text->setWordWrap(true);
  text->setTextFormat(Qt::RichText);
  text->setMinimumWidth(420);
  layout->addWidget(text);
  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
  layout->addWidget(buttons);
  box.exec();
  return 1;
}
