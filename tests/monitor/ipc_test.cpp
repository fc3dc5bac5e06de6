// The window channel: finding, raising and closing another program's window by its title.
#include "platform/ipc.h"

#include "test_env.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <QSignalSpy>
#include <QTest>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class WindowChannelTest : public MonitorEnv {};

TEST_F(WindowChannelTest, SecondInstanceIsRefusedAndMessagesArrive) {
  const QString title = QStringLiteral("Tarvik Quenby v.1.0");
  EXPECT_FALSE(platform::findWindow(title));
  EXPECT_FALSE(platform::postClose(title));
  EXPECT_FALSE(platform::bringToFront(title));

  platform::WindowChannel first(title);
  ASSERT_TRUE(first.listen());
  EXPECT_TRUE(first.isListening());
  EXPECT_TRUE(first.listen()) << "listening again is harmless";
  platform::WindowChannel second(title);
  EXPECT_FALSE(second.listen()) << "a second instance must be refused";
  EXPECT_TRUE(platform::findWindow(title));

  QSignalSpy closes(&first, &platform::WindowChannel::closeRequested);
  QSignalSpy raises(&first, &platform::WindowChannel::raiseRequested);
  EXPECT_TRUE(platform::bringToFront(title));
  EXPECT_TRUE(platform::postClose(title));
  EXPECT_TRUE(QTest::qWaitFor([&] { return closes.count() == 1 && raises.count() == 1; }, 3000));
  // Only finding the window sends nothing.
  EXPECT_TRUE(platform::findWindow(title));
  QTest::qWait(100);
  EXPECT_EQ(closes.count(), 1);
  EXPECT_EQ(raises.count(), 1);

  // Another title is another window.
  EXPECT_FALSE(platform::findWindow(QStringLiteral("Tarvik Folvex! v.2.1")));
}

TEST_F(WindowChannelTest, SocketLeftByACrashedProgramDoesNotBlockANewStart) {
  const QString title = QStringLiteral("Crashed window");
  const QByteArray name = platform::windowSocketName(title).toLocal8Bit();
  // A socket file bound by a program that is gone: nobody accepts on it.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(static_cast<size_t>(name.size()), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, name.constData(), static_cast<size_t>(name.size()));
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ::close(fd);
  ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(name)));

  EXPECT_FALSE(platform::findWindow(title));
  platform::WindowChannel channel(title);
  EXPECT_TRUE(channel.listen());
  EXPECT_TRUE(platform::findWindow(title));
}

TEST_F(WindowChannelTest, ClosingTheChannelMakesTheWindowDisappear) {
  const QString title = QStringLiteral("Short lived");
  {
    platform::WindowChannel channel(title);
    ASSERT_TRUE(channel.listen());
    EXPECT_TRUE(platform::findWindow(title));
  }
  EXPECT_FALSE(platform::findWindow(title));
  EXPECT_FALSE(QFile::exists(platform::windowSocketName(title)));
}

TEST_F(WindowChannelTest, GarbageFromAClientIsIgnored) {
  const QString title = QStringLiteral("Robust");
  platform::WindowChannel channel(title);
  ASSERT_TRUE(channel.listen());
  QSignalSpy closes(&channel, &platform::WindowChannel::closeRequested);
  QLocalSocket client;
  client.connectToServer(platform::windowSocketName(title));
  ASSERT_TRUE(client.waitForConnected(1000));
  client.write(QByteArray(100000, 'x'));
  client.write("\nclosed\nCLOSE\n");
  client.flush();
  QTest::qWait(300);
  EXPECT_EQ(closes.count(), 0);
  // The channel still serves the next client.
  EXPECT_TRUE(platform::postClose(title));
  EXPECT_TRUE(QTest::qWaitFor([&] { return closes.count() == 1; }, 3000));
}

TEST(WindowSocketName, IsASafeFileNameInTheRuntimeFolder) {
  const QString name = platform::windowSocketName(QStringLiteral("../Tarvik Quenby v.1.0/x"));
  const QString file = QFileInfo(name).fileName();
  EXPECT_FALSE(file.contains(QLatin1Char('/')));
  EXPECT_FALSE(file.contains(QLatin1Char(' ')));
  EXPECT_TRUE(file.contains(QStringLiteral("Tarvik_Quenby_v.1.0")));
  EXPECT_NE(platform::windowSocketName(QStringLiteral("a b")), platform::windowSocketName(QStringLiteral("a c")));
}

} // namespace
