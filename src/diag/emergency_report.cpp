#include "diag/emergency_report.h"

#include "platform/mail.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/version.h"
#include "settings/settings.h"

#include <QDir>
#include <QMessageBox>
#include <QProcess>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

namespace diag {

namespace {

ReportHooks g_hooks;

using platform::Hive;
using platform::RegAccess;
using platform::RegKey;

// Longest line copied from a printer settings file.
constexpr std::size_t kMaxFileLine = 1024;

std::string format(const char *fmt, auto... args) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// The spool folder of the platform in force, as a path (looking at it must not create it).
std::string spoolFolderPath() {
  return platform::windowsFolder() + (platform::platformId() == platform::VER_PLATFORM_WIN32_WINDOWS
                                          ? "/spool/PRINTERS/"
                                          : "/SYSTEM32/spool/PRINTERS/");
}

// The folder's attributes in the terms of the report: DIRECTORY for a folder, READONLY when it cannot be written,
// HIDDEN for a name beginning with a dot, REPARSE_POINT for a link, NORMAL when none of these holds; a missing
// folder has them all, as an invalid attribute set has every bit.
std::string attributeNames(const std::string &folder) {
  struct Attribute {
    const char *name;
    bool set;
  };
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  struct stat st {};
  struct stat lst {};
  const bool missing = ::stat(path.c_str(), &st) != 0;
  const bool link = ::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
  const std::string name = path.substr(path.rfind('/') + 1);
  const bool directory = !missing && S_ISDIR(st.st_mode);
  const bool readOnly = !missing && ::access(path.c_str(), W_OK) != 0;
  const bool hidden = !name.empty() && name[0] == '.';
  const bool normal = !directory && !readOnly && !hidden && !link;
  const Attribute all[] = {
      {"ARCHIVE; ", false},     {"COMPRESSED; ", false},   {"DIRECTORY; ", directory},       {"ENCRYPTED; ", false},
      {"HIDDEN; ", hidden},     {"NORMAL; ", normal},      {"NOT_CONTENT_INDEXED; ", false}, {"OFFLINE; ", false},
      {"READONLY; ", readOnly}, {"REPARSE_POINT; ", link}, {"SPARSE_FILE; ", false},         {"SYSTEM; ", false},
      {"TEMPORARY;", false},
  };
  std::string out;
  for (const Attribute &a : all)
    if (missing || a.set)
      out += a.name;
  return out;
}

bool folderListable(const std::string &folder) {
  DIR *d = ::opendir(folder.c_str());
  if (!d)
    return false;
  ::closedir(d);
  return true;
}

std::string accessLine(Hive hive, const char *label) {
  std::string line = label;
  if (RegKey::open(hive, kSettingsKey, RegAccess::All))
    return line + " -> KEY_ALL_ACCESS\n";
  if (RegKey::open(hive, kSettingsKey, RegAccess::Write))
    return line + " -> KEY_WRITE\n";
  if (RegKey::open(hive, kSettingsKey, RegAccess::Read))
    return line + " -> KEY_READ\n";
  return line + " != ERROR_SUCCESS\n";
}

// The desktop file of the default mail program; empty when none is known.
std::string defaultMailClient() {
  QProcess p;
  p.start(QStringLiteral("xdg-mime"),
          {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
  if (!p.waitForStarted(5000))
    return {};
  p.closeWriteChannel();
  if (!p.waitForFinished(10000)) {
    p.kill();
    p.waitForFinished(1000);
    return {};
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    return {};
  std::string s = p.readAllStandardOutput().left(259).trimmed().toStdString();
  return s.substr(0, s.find('\n'));
}

// One line per REG_SZ and REG_DWORD value of the settings key, numbered by enumeration index; other values (and
// values longer than a reader takes) have no line but keep their index.
std::string valueLines(Hive hive) {
  std::string out;
  const auto key = RegKey::open(hive, kSettingsKey, RegAccess::Query);
  if (!key)
    return out;
  for (std::size_t i = 0;; ++i) {
    const auto v = key->enumerate(i);
    if (!v)
      break;
    if (v->name.size() > 260 || v->data.size() > platform::kMaxStringBytes)
      continue;
    if (v->type == platform::REG_SZ) {
      const std::string text(v->data.begin(), std::find(v->data.begin(), v->data.end(), std::uint8_t(0)));
      out += "(REG_SZ)    " + std::to_string(i) + ": " + v->name + " = " + text + "\n";
    } else if (v->type == platform::REG_DWORD) {
      if (const auto n = platform::dwordFromValue(*v))
        out += "(REG_DWORD) " + std::to_string(i) + ": " + v->name + " = " + std::to_string(*n) + "\n";
    }
  }
  return out;
}

// "KolPrtr = N" and the next four lines per printer, as far as the file has them.
std::string printerFileLines(const std::string &path) {
  std::ifstream in(path);
  if (!in)
    return {};
  auto nextLine = [&](std::string &line) {
    if (!std::getline(in, line))
      return false;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.size() > kMaxFileLine)
      line.resize(kMaxFileLine);
    return true;
  };
  std::string line;
  nextLine(line);
  const long count = std::strtol(line.c_str(), nullptr, 10);
  const int kol = static_cast<int>(std::clamp<long>(count, INT32_MIN, INT32_MAX));
  std::string out = "KolPrtr = " + std::to_string(kol) + "\n";
  for (long i = 0; i < count; ++i)
    for (int k = 0; k < 4; ++k) {
      if (!nextLine(line))
        return out;
      out += line + "\n";
    }
  return out;
}

void message(const QString &text, const QString &caption, QMessageBox::Icon icon) {
  if (g_hooks.message) {
    g_hooks.message(text, caption);
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  box.exec();
}

bool question(const QString &text, const QString &caption, QWidget *owner) {
  if (g_hooks.question)
    return g_hooks.question(text, caption);
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
  return box.exec() == QMessageBox::Yes;
}

} // namespace

std::string EmergencyReportText(const std::tm &t) {
  std::string r = "\n=== Report ========= Generated by Folvex v.2.1.0 ============\n";
  r += format("%d:%d:%d  %d:%d:%d\n", t.tm_mon + 1, t.tm_mday, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  r += "AppDataFolder = " + platform::appDataFolder() + "\n";
  r += "TmpDir        = " + platform::workFolder() + "\n";
  const platform::OsVersion v = platform::osVersion();
  r += "osv = " + std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build) + "." +
       v.servicePack + "\n";
  const std::string spool = spoolFolderPath();
  r += "SPL-dir Attributes = " + attributeNames(spool);
  r += folderListable(spool) ? " != INVALID_HANDLE_VALUE (yes)\n" : " == INVALID_HANDLE_VALUE (no!)\n";
  r += accessLine(Hive::CurrentUser, "HKCU");
  r += accessLine(Hive::LocalMachine, "HKLM");
  if (const std::string client = defaultMailClient(); !client.empty())
    r += "DefEClient = " + client + "\n";
  r += "HKLM:\n" + valueLines(Hive::LocalMachine);
  r += "HKCU:\n" + valueLines(Hive::CurrentUser);
  r += printerFileLines(platform::appDataFolder() + "/lvFXPrn.ini");
  r += printerFileLines(platform::appDataFolder() + "/lvFXPrnNew.ini");
  return r;
}

ReportFile WriteReportFile(const std::tm &localTime) {
  const std::string text = EmergencyReportText(localTime);
  ReportFile f;
  std::string firstError;
  const std::string install = platform::installFolder(), appData = platform::appDataFolder();
  for (const std::string *folder : {&install, &appData}) {
    if (folder->empty())
      continue;
    if (folder == &appData)
      QDir().mkpath(QString::fromStdString(appData));
    const std::string path = *folder + "/" + kReportFileName;
    std::ofstream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (out)
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out.is_open())
      out.close();
    if (!out.fail()) {
      f.written = true;
      f.folder = *folder;
      f.path = path;
      return f;
    }
    if (firstError.empty())
      firstError = "'" + path + "': " + std::strerror(errno);
  }
  f.error = firstError.empty() ? "no folder for the report is known" : firstError;
  return f;
}

std::string SendReport(const std::string &reportPath) {
  platform::MailMessage m;
  m.to = kSupportMailAddress;
  m.subject = "Tarvik Folvex! Emergency Report";
  m.body = "Describe the problems in detail, please:\n";
  m.attachments = {reportPath};
  const platform::MailResult r = platform::sendMail(m);
  if (r.status == platform::MailStatus::Sent)
    return {};
  return "Sorry, Folvex! cannot send Emergency Report automatically.\nPlease send the report file manually.\n" +
         reportPath + "\n\nError " + (r.status == platform::MailStatus::NoMailer ? "000878" : "000876");
}

void WriteEmergencyReport(QWidget *owner) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const ReportFile f = WriteReportFile(local);
  const QString caption = QStringLiteral("Tarvik Folvex! Message");
  if (!f.written) {
    message(QString::fromStdString("The emergency report cannot be written:\n" + f.error), caption,
            QMessageBox::Warning);
    return;
  }
  const QString ask = QStringLiteral("File 'Report.log' was saved to '") + QString::fromStdString(f.folder) +
                      QStringLiteral("'\nSend it to Tarvik Support?");
  if (!question(ask, caption, owner))
    return;
  const std::string failure = SendReport(f.path);
  if (!failure.empty())
    message(QString::fromStdString(failure), QStringLiteral("Tarvik Folvex! Mailer Message"), QMessageBox::Critical);
}

void setReportHooks(ReportHooks hooks) { g_hooks = std::move(hooks); }

} // namespace diag
