// The welcome screen shown at start-up until the user ticks "Don't show this Welcome Screen at startup".
#pragma once

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QPushButton;

namespace frame {

// The body paragraphs, each starting with three spaces.
QStringList WelcomeParagraphs();
// The body as drawn: the paragraphs separated by one empty line.
QString WelcomeBody();

class WelcomeDialog : public QDialog {
  Q_OBJECT
public:
  explicit WelcomeDialog(QWidget *parent = nullptr);
  QCheckBox *dontShowBox() const { return dontShow_; }
  QPushButton *okButton() const { return ok_; }
  QPushButton *helpButton() const { return help_; }
  // The panel the texts are drawn in, for the dialog's current size.
  QRect panelRect() const;

signals:
  void helpRequested();

protected:
  void paintEvent(QPaintEvent *) override;

private:
  QCheckBox *dontShow_;
  QPushButton *ok_;
  QPushButton *help_;
};

// Opens the welcome screen over parent when "lvStartHelpCheck" reads below 1 and returns it (it deletes itself when
// closed); nothing when the user asked not to see it. On "OK" it stores "lvStartHelpCheck": 1 when the box is ticked,
// 0 otherwise; "Help" opens the help pages and closes it without storing. windowModal: modal over parent (start-up
// goes on, the frame keeps painting); otherwise it is shown as a plain window.
WelcomeDialog *ShowWelcomeScreen(QWidget *parent, bool windowModal);
// What "OK" stores: 1 ticked, 0 not.
void StoreWelcomeChoice(bool dontShowAgain);

} // namespace frame
