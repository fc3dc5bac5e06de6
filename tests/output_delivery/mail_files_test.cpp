// The export's files handed to a recording mail program, and what the user is told when that fails.
#include "mail_recorder.h"
#include "output/mail_files.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(MailFiles, AllFilesInOneMessageOrTheMailerMessage) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  MailRecorder recorder(dir.path() + "/mail");
  std::vector<std::string> files;
  QStringList expected;
  for (const char *name : {"Document0001-0001.png", "Document0001-0002.png", "Document0001-0003.png"}) {
    QFile f(dir.path() + "/" + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    files.push_back(f.fileName().toStdString());
    expected << QFileInfo(f).canonicalFilePath();
  }
  output::MailOutcome r = output::MailFiles(files);
  EXPECT_TRUE(r.sent);
  EXPECT_EQ(1, r.messages);
  EXPECT_TRUE(r.message.empty()) << r.message;
  auto sent = recorder.messages();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(expected, sent[0].attachments);

  recorder.unregister();
  r = output::MailFiles(files);
  EXPECT_FALSE(r.sent);
  EXPECT_EQ("Unable to send the message\nError 000776", r.message);
}

} // namespace
