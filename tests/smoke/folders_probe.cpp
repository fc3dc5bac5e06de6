// Prints the folders and hive files the platform layer finds, one "name=value" per line.
// With the argument "qt" it does so with an application object, as the programs do.
#include "platform/help_window.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <string>

int main(int argc, char *argv[]) {
  std::unique_ptr<QCoreApplication> app;
  if (argc > 1 && std::string(argv[1]) == "qt")
    app = std::make_unique<QCoreApplication>(argc, argv);
  using namespace platform;
  std::printf("program=%s\n", programFolder().c_str());
  std::printf("machine=%s\n", hiveFilePath(Hive::LocalMachine).c_str());
  std::printf("user=%s\n", hiveFilePath(Hive::CurrentUser).c_str());
  std::printf("install=%s\n", installFolder().c_str());
  std::printf("appdata=%s\n", appDataFolder().c_str());
  std::printf("work=%s\n", workFolder().c_str());
  std::printf("spool=%s\n", ntSpoolFolder().c_str());
  std::printf("help=%s\n", helpFolder().toStdString().c_str());
  return 0;
}
