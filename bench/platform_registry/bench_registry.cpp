// The registry is read on every scan tick (lvKodEstPrinters) and once per setting at start-up; these measure the
// cost of those reads against a hive of realistic size, and of one durable write.
#include "settings/settings.h"
#include "platform/registry.h"
#include "platform/registry_file.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

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
