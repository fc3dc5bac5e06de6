// Two copies of the program: the second finds the first, brings it forward and ends; the first runs on, ends by
// itself and stores its placement.
#include "app/frame_win.h"
#include "settings/settings.h"
#include "platform/ipc.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

namespace {

QProcessEnvironment ProgramEnvironment(int quitAfterMs) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("FOLVEX_QUIT_AFTER_MS"), QString::number(quitAfterMs));
  return env; // the private folders of this test run are inherited
}

bool WaitFor(const std::function<bool()> &cond, int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) {
    if (cond())
      return true;
    QThread::msleep(50);
  }
  return cond();
}

} // namespace

TEST(SingleInstance, SecondStartEndsAndTheFirstRunsOn) {
  const QString title = QString::fromLatin1(kFrameTitle);
  ASSERT_FALSE(platform::findWindow(title)) << "a copy of the program already runs in this test's runtime folder";
  QProcess first;
  first.setProcessEnvironment(ProgramEnvironment(6000));
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(QStringLiteral(FOLVEX_PROGRAM), {});
  ASSERT_TRUE(first.waitForStarted(5000));
  ASSERT_TRUE(WaitFor([&] { return platform::findWindow(title); }, 5000)) << "the first copy never listened";

  QProcess second;
  second.setProcessEnvironment(ProgramEnvironment(60000)); // it must end long before this
  second.start(QStringLiteral(FOLVEX_PROGRAM), {});
  ASSERT_TRUE(second.waitForStarted(5000));
  ASSERT_TRUE(second.waitForFinished(5000)) << "the second copy did not end";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);
  EXPECT_TRUE(platform::findWindow(title));

  ASSERT_TRUE(first.waitForFinished(15000)) << "the first copy did not end by itself";
  EXPECT_EQ(first.exitCode(), 0);
  EXPECT_FALSE(platform::findWindow(title));
  // Its end stored a usable normal rectangle that the next start reads.
  EXPECT_EQ(RegGetInt("lvKodMainWinMax"), 0);
  EXPECT_GT(RegGetInt("lvWinBottom"), RegGetInt("lvWinTop"));
  EXPECT_GT(RegGetInt("lvWinRight"), RegGetInt("lvWinLeft"));
}
