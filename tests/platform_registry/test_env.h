// Every test runs against hives, temporary and data folders of its own, whatever the caller's environment holds.
#pragma once

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>

class PrivateFolders : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = dir_.path().toStdString();
    set("FOLVEX_REGISTRY_DIR", root_ + "/registry");
    set("XDG_DATA_HOME", root_ + "/data");
    set("XDG_CONFIG_HOME", root_ + "/config");
    set("TMPDIR", root_ + "/tmp");
  }
  void TearDown() override {
    for (const auto &[name, old] : saved_) {
      if (old)
        ::setenv(name.c_str(), old->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  void set(const std::string &name, const std::string &value) {
    if (!saved_.count(name)) {
      const char *old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  std::string registryDir() const { return root_ + "/registry"; }
  std::string userHive() const { return registryDir() + "/user.reg"; }
  std::string machineHive() const { return registryDir() + "/machine.reg"; }

  static std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void writeFile(const std::string &path, const std::string &text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  QTemporaryDir dir_;
  std::string root_;
  std::map<std::string, std::optional<std::string>> saved_;
};
