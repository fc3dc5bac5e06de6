// The refresh tick runs every 2000 ms on the monitor's window thread; it must stay far below that with many printers.
#include "monitor/monitor_core.h"
#include "monitor/printer_settings.h"
#include "monitor/printer_text.h"
#include "platform/spooler_memory.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace monitor;

void fill(platform::MemorySpooler &spooler, int printers, int jobsEach) {
  for (int i = 0; i < printers; ++i) {
    const std::string name = "Printer " + std::to_string(i);
    auto &p = spooler.add(name);
    p.info.port = "USB" + std::to_string(i);
    p.info.datatype = "RAW";
    p.info.status = (i % 2) ? uint32_t(platform::PRINTER_STATUS_PAUSED) : 0u;
    for (int j = 0; j < jobsEach; ++j)
      spooler.addJob(name, "Document " + std::to_string(j)).submittedUtc = 1700000000 + j;
  }
}

// One tick over N printers with 5 jobs each, the first printer selected (its job list is rebuilt).
void BM_RefreshTick(benchmark::State &state) {
  platform::MemorySpooler spooler;
  fill(spooler, static_cast<int>(state.range(0)), 5);
  MonitorCore core(spooler, Mode::Work, {});
  core.initialise();
  core.clickPrinterRows({0});
  for (auto _ : state) {
    core.refreshTick();
    benchmark::DoNotOptimize(core.printerRows().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RefreshTick)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Parsing a full settings file of 1000 entries.
void BM_ParseSettings(benchmark::State &state) {
  std::vector<SavedPrinterEntry> entries;
  for (int i = 0; i < 1000; ++i)
    entries.push_back({"Printer " + std::to_string(i), i % 2 == 0, "IP_10.0.0." + std::to_string(i % 255), "RAW"});
  const std::string bytes = formatSettings(entries);
  std::vector<SavedPrinterEntry> table;
  for (auto _ : state) {
    parseSettings(bytes, table);
    benchmark::DoNotOptimize(table.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ParseSettings)->Unit(benchmark::kMicrosecond);

void BM_PrinterStatusText(benchmark::State &state) {
  uint32_t bits = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(printerStatusText(bits));
    bits = (bits * 1103515245u + 12345u) & 0x1ffffffu;
  }
}
BENCHMARK(BM_PrinterStatusText);

} // namespace

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  // The monitor writes its settings files and the acceptability code: keep them in a private folder.
  QTemporaryDir dir;
  qputenv("FOLVEX_REGISTRY_DIR", (dir.path() + QStringLiteral("/reg")).toLocal8Bit());
  qputenv("XDG_DATA_HOME", (dir.path() + QStringLiteral("/data")).toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (dir.path() + QStringLiteral("/config")).toLocal8Bit());
  qputenv("TMPDIR", dir.path().toLocal8Bit());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
