// The spool file page extractor on arbitrary bytes, as a file in a private work folder: it never crashes, and
// every page file it writes is a valid metafile.
#include "capture/spool_extractor.h"
#include "emf/metafile.h"
#include "platform/paths.h"
#include "platform/private_files.h"

#include <QDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // A runtime folder of this run's own, removed when the run ends: the work folder lies in it.
  static const std::string input = [] {
    static std::string folder = QDir::tempPath().toStdString() + "/fuzz-spool-XXXXXX";
    if (!::mkdtemp(folder.data()))
      std::abort();
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    ::setenv("FOLVEX_REGISTRY_DIR", folder.c_str(), 1);
    std::atexit([] { QDir(QString::fromStdString(folder)).removeRecursively(); });
    return folder + "/input.spl";
  }();
  if (!platform::writePrivateFile(input, std::span<const uint8_t>(data, size)))
    std::abort();
  capture::ExtractSpoolPages(input, 1);
  QDir work(QString::fromStdString(platform::workFolder()));
  for (const QString &name : work.entryList({QStringLiteral("*.emf")}, QDir::Files)) {
    if (!emf::GetEnhMetaFileA(work.filePath(name).toStdString()))
      __builtin_trap(); // a page file that is no metafile
    work.remove(name);
  }
  return 0;
}
