// Pages per second of the PDF writer for page images of an A4 page at 300 dpi (2480 x 3508 pixels): JPEG and PNG
// passed through, PNG decoded (interlaced) and BMP (always decoded). And the time and peak memory the writer spends
// on refusing the hostile files of the test data (tiny files that declare pictures of up to gigabytes).
#include "pdf/writer.h"

#include <Magick++.h>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>

namespace {

constexpr int kWidth = 2480, kHeight = 3508;

std::filesystem::path workFolder() {
  static std::filesystem::path dir = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::filesystem::path d = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") / "folvex-bench-pdf";
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

// A page-like picture: smooth colour areas with fine noise, so that the encoders work as on a rendered page.
Magick::Image pagePicture() {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(kWidth) * kHeight * 3);
  std::mt19937 rng(7);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      std::size_t i = (static_cast<std::size_t>(y) * kWidth + x) * 3;
      bool text = ((x / 12) % 5 != 0) && ((y / 40) % 2 == 0) && ((x * 7 + y * 3) % 11 < 4);
      std::uint8_t noise = static_cast<std::uint8_t>(rng() & 7);
      rgb[i] = text ? 20 : static_cast<std::uint8_t>(230 + noise + (x * 16 / kWidth));
      rgb[i + 1] = text ? 20 : static_cast<std::uint8_t>(235 + noise);
      rgb[i + 2] = text ? 30 : static_cast<std::uint8_t>(240 + noise - (y * 16 / kHeight));
    }
  Magick::Image img(kWidth, kHeight, "RGB", Magick::CharPixel, rgb.data());
  img.density(Magick::Geometry(300, 300));
  img.resolutionUnits(Magick::PixelsPerInchResolution);
  img.depth(8);
  return img;
}

// The page image of one kind, written once per run.
std::string imageFile(const std::string &kind) {
  static std::map<std::string, std::string> files;
  auto it = files.find(kind);
  if (it != files.end())
    return it->second;
  static Magick::Image picture = pagePicture();
  Magick::Image img = picture;
  std::string name;
  if (kind == "jpeg") {
    img.quality(85);
    name = "page.jpg";
  } else if (kind == "png") {
    name = "page.png";
  } else if (kind == "png-interlaced") {
    img.interlaceType(Magick::LineInterlace);
    name = "page-interlaced.png";
  } else {
    name = "page.bmp";
  }
  std::string path = (workFolder() / name).string();
  img.write(kind == "png" || kind == "png-interlaced" ? "PNG24:" + path : kind == "bmp" ? "BMP3:" + path : path);
  files[kind] = path;
  return path;
}

void writeDocument(benchmark::State &state, const std::string &kind) {
  const int pages = static_cast<int>(state.range(0));
  std::string image = imageFile(kind);
  std::string pdfPath = (workFolder() / ("bench-" + kind + ".pdf")).string();
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    pdf::WriterPtr w = pdf::new_writer();
    if (pdf::begin_document(w.get(), pdfPath.c_str(), 0, "") != 1) {
      state.SkipWithError("cannot write the document");
      return;
    }
    for (int p = 0; p < pages; ++p) {
      int img = pdf::load_image(w.get(), "auto", image.c_str(), 0, "");
      if (img < 0) {
        state.SkipWithError(pdf::get_errmsg(w.get()).c_str());
        return;
      }
      pdf::begin_page_ext(w.get(), 10, 10, "");
      pdf::fit_image(w.get(), img, 0, 0, "adjustpage");
      pdf::close_image(w.get(), img);
      pdf::end_page_ext(w.get(), "");
    }
    pdf::end_document(w.get(), "");
    bytes = std::filesystem::file_size(pdfPath);
  }
  state.SetItemsProcessed(state.iterations() * pages);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.counters["pages_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * pages), benchmark::Counter::kIsRate);
  state.counters["MB_per_page"] = static_cast<double>(bytes) / pages / 1e6;
  std::filesystem::remove(pdfPath);
}

void BM_JpegPassThrough(benchmark::State &state) { writeDocument(state, "jpeg"); }
void BM_PngPassThrough(benchmark::State &state) { writeDocument(state, "png"); }
void BM_PngDecoded(benchmark::State &state) { writeDocument(state, "png-interlaced"); }
void BM_Bmp(benchmark::State &state) { writeDocument(state, "bmp"); }

const char *const kHostile[] = {"hostile-rle4.bmp",   "hostile-interlaced.png", "hostile-alpha.png",
                                "hostile-absurd.png", "hostile-decoded.tif",    "hostile-absurd.tif",
                                "hostile-narrow.gif", "hostile-absurd.jpg",     "hostile-idat-cut.png"};

// Peak resident memory of the process, in megabytes, since the last reset.
double resetPeakMb() {
  if (FILE *f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return static_cast<double>(r.ru_maxrss) / 1024;
}
double peakMb() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return static_cast<double>(r.ru_maxrss) / 1024;
}

void BM_HostileFile(benchmark::State &state) {
  const std::string name = kHostile[state.range(0)];
  const std::string path = std::string(FOLVEX_TEST_DATA "/pdf/fuzz/") + name;
  state.SetLabel(name);
  double grown = 0;
  for (auto _ : state) {
    pdf::WriterPtr w = pdf::new_writer();
    pdf::begin_document(w.get(), "/dev/null", 0, "");
    const double before = resetPeakMb();
    if (pdf::load_image(w.get(), "auto", path.c_str(), 0, "") >= 0) {
      state.SkipWithError("the hostile file was loaded");
      return;
    }
    grown = std::max(grown, peakMb() - before);
  }
  state.counters["peak_growth_MB"] = grown;
}

BENCHMARK(BM_HostileFile)->DenseRange(0, 8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegPassThrough)->Arg(100)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngPassThrough)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngDecoded)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Bmp)->Arg(5)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
  Magick::InitializeMagick(argv[0]);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
