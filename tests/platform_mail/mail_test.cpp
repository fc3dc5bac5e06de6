// Mail through xdg-email to a recording mail program: what reaches it, in which order, split how, and what the
// caller learns when there is no mail program or no xdg-email.
#include "mail_recorder.h"
#include "platform/mail.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class Mail : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  // An empty file under the folder; its canonical path (as the mail program sees it).
  QString file(const QString &name) {
    QFile f(dir.path() + "/files/" + name);
    QDir().mkpath(dir.path() + "/files");
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    return QFileInfo(f.fileName()).canonicalFilePath();
  }
  QTemporaryDir dir;
  MailRecorder recorder{dir.path() + "/mail"};
};

TEST_F(Mail, OneMessageCarriesEveryAttachmentInOrderWithAddressSubjectAndBody) {
  const QStringList files = {file("Document0012-0002.png"), file("Document0012-0001 copy.png"), file("über_3.png")};
  platform::MailMessage m;
  for (const QString &f : files)
    m.attachments.push_back(f.toStdString());
  m.to = "support@tarvik.example";
  m.subject = "Tarvik Folvex! Emergency Report";
  m.body = "Describe the problems in detail, please:\r\n";
  platform::MailResult r = platform::sendMail(m);
  EXPECT_EQ(platform::MailStatus::Sent, r.status);
  EXPECT_EQ(1, r.messages);
  EXPECT_EQ(0, r.exitStatus);
  auto sent = recorder.messages();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(files, sent[0].attachments);
  EXPECT_EQ("support@tarvik.example", sent[0].to);
  EXPECT_EQ("Tarvik Folvex! Emergency Report", sent[0].subject);
  EXPECT_TRUE(sent[0].body.startsWith("Describe the problems in detail, please:")) << sent[0].body.toStdString();
  for (const QString &f : files)
    EXPECT_TRUE(QFileInfo::exists(f)) << "the mail program reads the files later";

  // No address, subject or body: only the attachment.
  platform::MailMessage bare;
  bare.attachments = {files[0].toStdString()};
  EXPECT_EQ(platform::MailStatus::Sent, platform::sendMail(bare).status);
  sent = recorder.messages();
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(QStringList{files[0]}, sent[1].attachments);
  EXPECT_TRUE(sent[1].to.isEmpty());
  EXPECT_TRUE(sent[1].subject.isEmpty());
}

// More attachments than one mailto address can carry: several messages, each with whole attachments, together
// all of them in order, none above the longest argument a program gets.
TEST_F(Mail, AnOversizedListIsSplitIntoSeveralMessages) {
  QStringList files;
  const QString longName(200, QChar('_')); // every '_' is three characters in the address
  for (int i = 0; i < 230; ++i)
    files << file(longName + QString::number(i) + ".png");
  platform::MailMessage m;
  for (const QString &f : files)
    m.attachments.push_back(f.toStdString());
  platform::MailResult r = platform::sendMail(m);
  EXPECT_EQ(platform::MailStatus::Sent, r.status);
  auto sent = recorder.messages();
  ASSERT_EQ(2u, sent.size());
  EXPECT_EQ(2, r.messages);
  QStringList all;
  EXPECT_GT(sent[0].addressLength, 100000) << "the first message takes as many as fit";
  for (const auto &s : sent) {
    EXPECT_LT(s.addressLength, 131072);
    all << s.attachments;
  }
  EXPECT_EQ(files, all);
}

TEST_F(Mail, FailuresReachTheCaller) {
  const std::string f = file("a.png").toStdString();
  // The mail program fails: xdg-email exits 4.
  recorder.setBehaviour(1, 0);
  platform::MailResult r = platform::sendMail({"", "", "", {f}});
  EXPECT_EQ(platform::MailStatus::Failed, r.status);
  EXPECT_EQ(4, r.exitStatus);
  EXPECT_EQ(0, r.messages);
  // No mail program set up: 3.
  recorder.unregister();
  r = platform::sendMail({"", "", "", {f}});
  EXPECT_EQ(platform::MailStatus::Failed, r.status);
  EXPECT_EQ(3, r.exitStatus);
  // A file that is gone: 2.
  r = platform::sendMail({"", "", "", {f + ".gone"}});
  EXPECT_EQ(platform::MailStatus::Failed, r.status);
  EXPECT_EQ(2, r.exitStatus);
  // No xdg-email at all.
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(dir.path() + "/files"));
  r = platform::sendMail({"", "", "", {f}});
  qputenv("PATH", path);
  EXPECT_EQ(platform::MailStatus::NoMailer, r.status);
}

// A mail program that keeps running with its compose window does not hold the caller.
TEST_F(Mail, AMailProgramThatStaysRunningCountsAsHandedOver) {
  recorder.setBehaviour(0, 6);
  QElapsedTimer t;
  t.start();
  platform::MailResult r = platform::sendMail({"", "", "", {file("a.png").toStdString()}});
  EXPECT_LT(t.elapsed(), 5500);
  EXPECT_EQ(platform::MailStatus::Sent, r.status);
  EXPECT_EQ(1, r.messages);
  EXPECT_EQ(1u, recorder.messages().size());
}

} // namespace
