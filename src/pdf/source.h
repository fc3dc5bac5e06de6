#pragma once

// A small buffered reader over a file or an in-memory file; it serves the image loaders, libpng and libtiff.

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pdf::detail {

class Source {
public:
  static std::shared_ptr<Source> fromMemory(std::shared_ptr<const std::vector<std::uint8_t>> data);
  // Takes the file and closes it.
  static std::shared_ptr<Source> fromFile(FILE *file);
  ~Source();
  Source(const Source &) = delete;
  Source &operator=(const Source &) = delete;

  std::uint64_t size() const { return size_; }
  // Copies up to n bytes from offset; returns the count copied (short at the end of the data or on a read error).
  std::size_t readAt(std::uint64_t offset, void *buffer, std::size_t n);
  bool readFully(std::uint64_t offset, void *buffer, std::size_t n) { return readAt(offset, buffer, n) == n; }
  // True once a read from the file failed for another reason than its end.
  bool ioError() const { return ioError_; }

  // Sequential reading for libraries that read a stream.
  std::uint64_t position = 0;

private:
  Source() = default;
  FILE *file_ = nullptr;
  std::shared_ptr<const std::vector<std::uint8_t>> memory_;
  std::uint64_t size_ = 0;
  std::vector<std::uint8_t> cache_;
  std::uint64_t cacheStart_ = 0;
  std::size_t cacheLength_ = 0;
  bool ioError_ = false;
};

// Finds a file: in-memory files first, then the name itself, then each search directory, newest first.
// Returns null when none can be opened; an empty name, "." and ".." are never opened.
std::shared_ptr<Source>
openSource(const std::map<std::string, std::shared_ptr<const std::vector<std::uint8_t>>> &memory,
           const std::vector<std::string> &searchPath, const std::string &name);

} // namespace pdf::detail
