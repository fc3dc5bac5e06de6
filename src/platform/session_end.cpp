#include "platform/session_end.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr const char *kUnattendedVariable = "FOLVEX_UNATTENDED";
int g_writeFd = -1;
std::atomic<bool> g_unattended{false};

void onSignal(int sig) {
  // Only async-signal-safe work here: one byte, the signal number, to the window thread.
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(sig);
  if (g_writeFd >= 0) [[maybe_unused]]
    const ssize_t n = ::write(g_writeFd, &byte, 1);
  errno = saved;
}

} // namespace

SessionEnd::SessionEnd(int readFd) {
  if (readFd < 0)
    return;
  auto *notifier = new QSocketNotifier(readFd, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this, readFd] {
    unsigned char byte = 0;
    if (::read(readFd, &byte, 1) != 1)
      return;
    setUnattended();
    emit endRequested(byte);
  });
}

SessionEnd *SessionEnd::install() {
  static SessionEnd *instance = [] {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
      return new SessionEnd(-1);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    g_writeFd = fds[1];
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    return new SessionEnd(fds[0]);
  }();
  return instance;
}

bool unattended() { return g_unattended.load() || qEnvironmentVariableIntValue(kUnattendedVariable) > 0; }

void setUnattended() {
  g_unattended.store(true);
  qputenv(kUnattendedVariable, "1");
}

} // namespace platform
