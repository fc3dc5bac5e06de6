// The registry is read on every scan tick (lvKodEstPrinters) and once per setting at start-up; these measure the
// cost of those reads against a hive of realistic size, and of one durable write; how parsing grows with the size
// of a hive; and the whole program started and ended with a hive of 20,000 values (target: under 1 s).
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "settings/settings.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>

namespace {

const char *kNames[] = {"lvIncludeDateTime",
                        "lvKodMainWinMax",
                        "lvSharpen",
                        "lvCurBkGrColor",
                        "lvHatchColor",
                        "lvHatchWidth",
                        "lvHatchDepress",
                        "lvHatchAngle",
                        "lvHatchLnHor",
                        "lvHatchLnVert",
                        "lvBkGrHathStyle",
                        "ResCur",
                        "CheckN",
                        "ScaleCur",
                        "KodAntialias",
                        "JPG_Gray",
                        "JPG_Progress",
                        "JPG_Quality",
                        "GIF_Colors",
                        "GIF_IndexGray",
                        "GIF_Dither",
                        "GIF_Interlace",
                        "GIF_Delay",
                        "PNG_TrueIndexGray",
                        "PNG_Colors",
                        "PNG_Interlace",
                        "PNG_Dither",
                        "TIF_TrueIndexGray",
                        "TIF_Colors",
                        "TIF_Lzw",
                        "TIF_Default",
                        "BMP_Default",
                        "PNG_Default",
                        "GIF_Default",
                        "JPG_Default",
                        "lvWinLeft",
                        "lvWinTop",
                        "lvWinRight",
                        "lvWinBottom",
                        "lvStartHelpCheck",
                        "lvKodEstPrinters",
                        "KodEmailFormat"};

// A user hive as a long-used installation has it: every setting stored, plus two paths.
void fillHive() {
  for (const char *name : kNames)
    RegSetInt(name, 1);
  RegSetUserString("SavePath", "/home/someone/Pictures/Captured pages");
  RegSetUserString("PDF_Bitmp_Format", "JPG");
}

void BM_RegGetInt(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(RegGetInt("lvKodEstPrinters"));
}
BENCHMARK(BM_RegGetInt);

void BM_LoadSettings(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(LoadSettings());
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMillisecond);

void BM_RegSetInt(benchmark::State &state) {
  int32_t n = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(RegSetInt("lvKodMainWinMax", ++n & 1));
}
BENCHMARK(BM_RegSetInt)->Unit(benchmark::kMillisecond);

void BM_ParseHive(benchmark::State &state) {
  platform::regfile::HiveData data;
  auto *key = data.create(kSettingsKey);
  for (const char *name : kNames)
    key->values.push_back({name, platform::REG_DWORD, {1, 0, 0, 0}});
  const std::string text = platform::regfile::format(data, platform::Hive::CurrentUser);
  for (auto _ : state) {
    platform::regfile::HiveData out;
    benchmark::DoNotOptimize(platform::regfile::parse(text, platform::Hive::CurrentUser, out));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseHive);

// A settings key with `count` values besides the settings themselves, as a hive that grew over years (or was
// filled by another program) has them.
std::string LargeHive(int count) {
  platform::regfile::HiveData data;
  auto *key = data.create(kSettingsKey);
  for (const char *name : kNames)
    key->values.push_back({name, platform::REG_DWORD, {1, 0, 0, 0}});
  for (int i = 0; i < count; ++i) {
    const std::string name = "Extra" + std::to_string(i);
    key->values.push_back({name, i % 2 ? platform::REG_DWORD : platform::REG_SZ, {uint8_t('a' + i % 26), 'b', 'c', 0}});
  }
  return platform::regfile::format(data, platform::Hive::CurrentUser);
}

// Parsing time against the number of values: linear, not quadratic.
void BM_ParseLargeHive(benchmark::State &state) {
  const std::string text = LargeHive(int(state.range(0)));
  for (auto _ : state) {
    platform::regfile::HiveData out;
    benchmark::DoNotOptimize(platform::regfile::parse(text, platform::Hive::CurrentUser, out));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseLargeHive)->RangeMultiplier(4)->Range(1250, 80000)->Unit(benchmark::kMillisecond)->Complexity();

// The program started and ended at once (offscreen, its own folders, no printer monitor), with a user hive of
// state.range(0) values: every setting read at start, the placement written at the end.
void BM_StartAndQuit(benchmark::State &state) {
  QTemporaryDir dir;
  const QString root = dir.path();
  for (const char *sub : {"reg", "tmp", "run", "config", "data"})
    QDir(root).mkpath(sub);
  QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  const std::string hive = LargeHive(int(state.range(0)));
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("FOLVEX_QUIT_AFTER_MS", "1");
  env.insert("FOLVEX_REGISTRY_DIR", root + "/reg");
  env.insert("TMPDIR", root + "/tmp");
  env.insert("XDG_RUNTIME_DIR", root + "/run");
  env.insert("XDG_CONFIG_HOME", root + "/config");
  env.insert("XDG_DATA_HOME", root + "/data");
  env.insert("CUPS_SERVER", root + "/run/no-cups.sock");
  for (auto _ : state) {
    QFile user(root + "/reg/user.reg");
    QFile machine(root + "/reg/machine.reg"); // no "InstallPath": no printer monitor is started
    if (!user.open(QIODevice::WriteOnly) || !machine.open(QIODevice::WriteOnly)) {
      state.SkipWithError("cannot write the hives");
      break;
    }
    user.write(hive.data(), qint64(hive.size()));
    user.close();
    machine.write("REGEDIT4\n");
    machine.close();
    QProcess program;
    program.setProcessEnvironment(env);
    const auto start = std::chrono::steady_clock::now();
    program.start(QStringLiteral(FOLVEX_PROGRAM), {});
    if (!program.waitForFinished(600000) || program.exitCode() != 0) {
      state.SkipWithError("the program did not end by itself");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
}
BENCHMARK(BM_StartAndQuit)->Arg(0)->Arg(20000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  // The hives live in a folder of their own, never the user's.
  QTemporaryDir dir;
  if (!dir.isValid())
    return 1;
  ::setenv("FOLVEX_REGISTRY_DIR", dir.path().toLocal8Bit().constData(), 1);
  fillHive();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
