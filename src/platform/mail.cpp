#include "platform/mail.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

extern char **environ;

namespace platform {

namespace {

// The longest mailto address one message may take. The system passes at most 128 KiB in one argument to a
// program; the mail program may wrap the address in its own syntax, hence the margin.
constexpr std::size_t kMaxAddressChars = 120000;
// How long a message may take to be handed over before the mail program counts as having taken it.
constexpr auto kHandOverTime = std::chrono::seconds(4);

// Characters of the mailto address that xdg-email makes of a text: letters, digits, "@.-\/" stay, a line end
// becomes %0D%0A, every other byte a %XX escape.
std::size_t encodedLength(const std::string &text) {
  std::size_t n = 0;
  for (unsigned char c : text) {
    if (c == '\n') {
      n += 6;
      continue;
    }
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '@' ||
                       c == '.' || c == '-' || c == '\\' || c == '/';
    n += plain ? 1 : 3;
  }
  return n;
}

// xdg-email attaches the file under its canonical path.
std::string canonical(const std::string &path) {
  if (char *real = ::realpath(path.c_str(), nullptr)) {
    std::string s = real;
    std::free(real);
    return s;
  }
  return path;
}

std::string findProgram(const char *name) {
  const char *path = std::getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos)
      end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0)
      return candidate;
    start = end + 1;
  }
  return {};
}

// Runs the program; its exit status, -1 when it is still running after the hand-over time (it is then left to
// run and reaped in the background), or -2 when it could not be started.
int runHandingOver(const std::string &program, const std::vector<std::string> &args) {
  std::vector<char *> argv;
  argv.push_back(const_cast<char *>(program.c_str()));
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    errno = rc;
    return -2;
  }
  const auto deadline = std::chrono::steady_clock::now() + kHandOverTime;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    if (done < 0 && errno != EINTR)
      return 0; // reaped elsewhere: it ended, and nothing more can be learnt
    if (std::chrono::steady_clock::now() >= deadline)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return -1;
}

} // namespace

MailResult sendMail(const MailMessage &message) {
  MailResult result;
  const std::string program = findProgram("xdg-email");
  if (program.empty()) {
    std::cerr << "xdg-email was not found: no mail can be handed to a mail program\n";
    result.status = MailStatus::NoMailer;
    return result;
  }

  // The address without attachments: "mailto:" TO "?" subject=...&body=...&
  std::vector<std::string> fixed;
  std::size_t fixedLength = std::strlen("mailto:?");
  if (!message.subject.empty()) {
    fixed.insert(fixed.end(), {"--subject", message.subject});
    fixedLength += std::strlen("subject=&") + encodedLength(message.subject);
  }
  if (!message.body.empty()) {
    fixed.insert(fixed.end(), {"--body", message.body});
    fixedLength += std::strlen("body=&") + encodedLength(message.body);
  }
  if (!message.to.empty()) {
    fixed.push_back(message.to);
    fixedLength += encodedLength(message.to);
  }

  // Runs of whole attachments that fit one address each.
  std::vector<std::vector<std::string>> runs(1);
  std::size_t length = fixedLength;
  for (const std::string &file : message.attachments) {
    const std::size_t add = std::strlen("attach=&") + encodedLength(canonical(file));
    if (!runs.back().empty() && length + add > kMaxAddressChars) {
      runs.emplace_back();
      length = fixedLength;
    }
    runs.back().push_back(file);
    length += add;
  }

  for (const std::vector<std::string> &run : runs) {
    std::vector<std::string> args;
    for (const std::string &file : run)
      args.insert(args.end(), {"--attach", file});
    args.insert(args.end(), fixed.begin(), fixed.end());
    const int status = runHandingOver(program, args);
    result.exitStatus = status;
    if (status == -2) {
      std::cerr << "xdg-email could not be started: " << std::strerror(errno) << "\n";
      result.status = result.messages == 0 ? MailStatus::NoMailer : MailStatus::Failed;
      return result;
    }
    if (status > 0) {
      result.status = MailStatus::Failed;
      return result;
    }
    ++result.messages;
  }
  result.status = MailStatus::Sent;
  return result;
}

} // namespace platform
