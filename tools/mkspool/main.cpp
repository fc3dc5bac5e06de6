// mkspool: wraps EMF files, one per page, into an EMF spool file with a shadow file beside it.
//
//   mkspool [-d NAME] [--no-shadow] OUT.SPL PAGE.emf...   write OUT.SPL (and OUT.SHD)
//   mkspool [-d NAME] --queue PAGE.emf...                 write the next free NNNNN.SPL/.SHD into the spool folder
//   mkspool --spool-folder                                print the spool folder Folvex watches
#include "capture/spool_writer.h"
#include "platform/paths.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr qint64 kMaxPageBytes = qint64(1) << 30;

int usage() {
  std::fprintf(stderr, "usage: mkspool [-d NAME] [--no-shadow] OUT.SPL PAGE.emf...\n"
                       "       mkspool [-d NAME] --queue PAGE.emf...\n"
                       "       mkspool --spool-folder\n"
                       "       mkspool -h | --help\n");
  return 2;
}

// A page must at least look like an enhanced metafile: header record type 1 and " EMF" at offset 40.
bool looksLikeEmf(const QByteArray &b) {
  if (b.size() < 88)
    return false;
  auto u32 = [&b](int at) {
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
           uint32_t(uint8_t(b[at + 3])) << 24;
  };
  return u32(0) == 1 && u32(40) == 0x464D4520;
}

} // namespace

int main(int argc, char **argv) {
  std::string documentName;
  bool shadow = true, queue = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--spool-folder") {
      std::printf("%s\n", platform::ntSpoolFolder().c_str());
      return 0;
    } else if (a == "-d" && i + 1 < argc) {
      documentName = argv[++i];
    } else if (a == "--no-shadow") {
      shadow = false;
    } else if (a == "--queue") {
      queue = true;
    } else if (a == "-h" || a == "--help") {
      usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      args.push_back(a);
    }
  }

  std::string out;
  if (queue) {
    const std::string folder = platform::ntSpoolFolder();
    const std::string name = capture::NextFreeJobName(folder);
    if (name.empty()) {
      std::fprintf(stderr, "mkspool: no free job name in %s\n", folder.c_str());
      return 1;
    }
    out = folder + name + ".SPL";
  } else {
    if (args.empty())
      return usage();
    out = args.front();
    args.erase(args.begin());
  }
  if (args.empty())
    return usage();

  std::vector<std::vector<uint8_t>> pages;
  for (const std::string &path : args) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxPageBytes) {
      std::fprintf(stderr, "mkspool: cannot read %s\n", path.c_str());
      return 1;
    }
    const QByteArray bytes = f.readAll();
    if (!looksLikeEmf(bytes)) {
      std::fprintf(stderr, "mkspool: %s is not an enhanced metafile\n", path.c_str());
      return 1;
    }
    pages.emplace_back(bytes.begin(), bytes.end());
  }
  if (documentName.empty())
    documentName = QFileInfo(QString::fromStdString(args.front())).completeBaseName().toStdString();

  std::string error;
  if (!capture::WriteSpoolJob(out, pages, documentName, shadow, &error)) {
    std::fprintf(stderr, "mkspool: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", out.c_str());
  return 0;
}
