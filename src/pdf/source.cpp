#include "pdf/source.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace pdf::detail {

namespace {
constexpr std::size_t kCacheSize = 8192;
}

std::shared_ptr<Source> Source::fromMemory(std::shared_ptr<const std::vector<std::uint8_t>> data) {
  std::shared_ptr<Source> s(new Source()); // private constructor
  s->size_ = data ? data->size() : 0;
  s->memory_ = std::move(data);
  return s;
}

std::shared_ptr<Source> Source::fromFile(FILE *file) {
  std::shared_ptr<Source> s(new Source());
  s->file_ = file;
  struct stat st {};
  if (fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    s->size_ = static_cast<std::uint64_t>(st.st_size);
  s->cache_.resize(kCacheSize);
  return s;
}

Source::~Source() {
  if (file_)
    std::fclose(file_);
}

std::size_t Source::readAt(std::uint64_t offset, void *buffer, std::size_t n) {
  if (offset >= size_ || n == 0)
    return 0;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - offset));
  auto *dst = static_cast<std::uint8_t *>(buffer);
  if (memory_) {
    std::memcpy(dst, memory_->data() + offset, n);
    return n;
  }
  std::size_t done = 0;
  while (done < n) {
    std::uint64_t pos = offset + done;
    if (pos >= cacheStart_ && pos < cacheStart_ + cacheLength_) {
      std::size_t inCache = static_cast<std::size_t>(cacheStart_ + cacheLength_ - pos);
      std::size_t take = std::min(inCache, n - done);
      std::memcpy(dst + done, cache_.data() + (pos - cacheStart_), take);
      done += take;
      continue;
    }
    // Large reads bypass the cache.
    if (n - done >= kCacheSize) {
      if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) {
        ioError_ = true;
        break;
      }
      std::size_t got = std::fread(dst + done, 1, n - done, file_);
      if (got < n - done && std::ferror(file_))
        ioError_ = true;
      done += got;
      break;
    }
    if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) {
      ioError_ = true;
      break;
    }
    cacheStart_ = pos;
    cacheLength_ = std::fread(cache_.data(), 1, kCacheSize, file_);
    if (cacheLength_ == 0) {
      if (std::ferror(file_))
        ioError_ = true;
      break;
    }
  }
  return done;
}

std::shared_ptr<Source>
openSource(const std::map<std::string, std::shared_ptr<const std::vector<std::uint8_t>>> &memory,
           const std::vector<std::string> &searchPath, const std::string &name) {
  if (name.empty() || name == "." || name == "..")
    return nullptr;
  auto it = memory.find(name);
  if (it != memory.end())
    return Source::fromMemory(it->second);
  auto openRegular = [](const std::string &path) -> FILE * {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
      return nullptr;
    struct stat st {};
    if (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode)) {
      std::fclose(f);
      errno = EISDIR;
      return nullptr;
    }
    return f;
  };
  if (FILE *f = openRegular(name))
    return Source::fromFile(f);
  if (errno != ENOENT || name.front() == '/')
    return nullptr;
  for (auto dir = searchPath.rbegin(); dir != searchPath.rend(); ++dir) {
    std::string path = *dir;
    if (!path.empty() && path.back() != '/')
      path += '/';
    path += name;
    if (FILE *f = openRegular(path))
      return Source::fromFile(f);
  }
  return nullptr;
}

} // namespace pdf::detail
