// Runs the fuzz entry point once over every sample input (or over the files named on the command line).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  std::vector<std::filesystem::path> files;
  if (argc > 1) {
    for (int i = 1; i < argc; ++i)
      files.emplace_back(argv[i]);
  } else {
    std::filesystem::path dir = std::filesystem::path(FOLVEX_TEST_DATA) / "pdf" / "fuzz";
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir, ec))
      if (entry.is_regular_file() && entry.path().filename() != "SOURCES.md")
        files.push_back(entry.path());
  }
  if (files.empty()) {
    std::fprintf(stderr, "no sample inputs found\n");
    return 1;
  }
  for (const auto &f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::printf("%zu sample inputs ran\n", files.size());
  return 0;
}
