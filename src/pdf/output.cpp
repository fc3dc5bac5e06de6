#include "pdf/writer_internal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace pdf {

bool FormatReal(double value, std::string *out) {
  out->clear();
  if (std::isnan(value)) {
    *out = "0";
    return false;
  }
  double mag = std::fabs(value);
  if (mag < 0.000015) {
    *out = "0";
    return true;
  }
  if (mag > 2147483647.0) {
    *out = "0";
    return false;
  }
  if (value < 0)
    out->push_back('-');
  if (mag >= 32768.0) {
    *out += std::to_string(static_cast<long long>(std::floor(mag + 0.5)));
    return true;
  }
  // Round to 4 fraction digits in integer arithmetic so the digits are exact.
  long long scaled = static_cast<long long>(std::floor(mag * 10000.0 + 0.5));
  long long whole = scaled / 10000;
  long long frac = scaled % 10000;
  *out += std::to_string(whole);
  if (frac != 0) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%04lld", frac);
    int len = 4;
    while (len > 0 && digits[len - 1] == '0')
      --len;
    out->push_back('.');
    out->append(digits, static_cast<std::size_t>(len));
  }
  return true;
}

namespace detail {

std::string writeFailure() {
  const int e = errno;
  return std::string("Couldn't write PDF output (") + (e != 0 ? std::strerror(e) : "disk full?") + ")";
}

namespace {
constexpr std::size_t kInitialBuffer = 64 * 1024;
constexpr std::size_t kInitialObjects = 2048;
} // namespace

Output::Output() = default;

Output::~Output() {
  if (zInit_)
    deflateEnd(&z_);
  if (file_ && ownsFile_)
    std::fclose(file_);
}

void Output::open(FILE *file, bool ownsFile) {
  file_ = file;
  ownsFile_ = ownsFile;
  struct stat st {};
  seekable_ = false;
  fileBase_ = 0;
  holding_ = false;
  if (ownsFile && ::fstat(fileno(file), &st) == 0 && S_ISREG(st.st_mode)) {
    const off_t at = ::ftello(file);
    seekable_ = at >= 0;
    fileBase_ = at;
  }
  buffer_.assign(kInitialBuffer, 0);
  used_ = 0;
  count_ = 0;
  offsets_.clear();
  offsets_.reserve(kInitialObjects);
  offsets_.push_back(0); // object 0 is the head of the free list
  inStream_ = false;
  compress_ = false;
}

bool Output::close(bool sync) {
  bool ok = true;
  if (file_) {
    if (used_ > 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_)
      ok = false;
    used_ = 0;
    if (std::fflush(file_) != 0)
      ok = false;
    if (sync && ownsFile_ && ::fsync(fileno(file_)) != 0)
      ok = false;
    if (ownsFile_ && std::fclose(file_) != 0)
      ok = false;
  }
  file_ = nullptr;
  ownsFile_ = false;
  inStream_ = false;
  std::vector<std::uint8_t>().swap(buffer_);
  std::vector<std::uint8_t>().swap(zbuf_);
  offsets_.clear();
  return ok;
}

void Output::flush() {
  if (used_ == 0)
    return;
  if (std::fwrite(buffer_.data(), 1, used_, file_) != used_) {
    used_ = 0;
    throw RaisedError{ErrWrite, writeFailure()};
  }
  used_ = 0;
}

void Output::put(const void *data, std::size_t n) {
  if (!file_)
    return;
  if (holding_ && used_ + n > buffer_.size()) {
    std::size_t size = buffer_.size();
    while (used_ + n > size)
      size *= 2;
    buffer_.resize(size);
  }
  if (used_ + n > buffer_.size()) {
    flush();
    if (n > buffer_.size()) {
      if (std::fwrite(data, 1, n, file_) != n)
        throw RaisedError{ErrWrite, writeFailure()};
      count_ += static_cast<std::int64_t>(n);
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, data, n);
  used_ += n;
  count_ += static_cast<std::int64_t>(n);
}

void Output::put(const char *s) { put(s, std::strlen(s)); }

Output::Mark Output::mark() {
  holding_ = !seekable_;
  return Mark{count_, offsets_.size()};
}

void Output::commit() { holding_ = false; }

void Output::rollback(const Mark &m) {
  const std::int64_t drop = count_ - m.count;
  if (drop <= static_cast<std::int64_t>(used_)) {
    used_ -= static_cast<std::size_t>(drop);
  } else {
    // Part of it already went to the file (never while holding): cut the file back to the mark.
    used_ = 0;
    const off_t at = static_cast<off_t>(fileBase_ + m.count);
    if (std::fflush(file_) != 0 || ::ftruncate(fileno(file_), at) != 0 || ::fseeko(file_, at, SEEK_SET) != 0)
      throw RaisedError{ErrWrite, "Couldn't write PDF output (cannot take back a failed image)"};
  }
  count_ = m.count;
  offsets_.resize(m.objects);
  inStream_ = false;
  compress_ = false;
  holding_ = false;
}

void Output::putInt(std::int64_t v) { put(std::to_string(v)); }

void Output::putReal(double v) {
  std::string s;
  if (!FormatReal(v, &s))
    throw RaisedError{ErrNumberTooLarge, "Floating point value too large for PDF"};
  put(s);
}

std::int64_t Output::reserve() {
  offsets_.push_back(kReserved);
  return static_cast<std::int64_t>(offsets_.size()) - 1;
}

std::int64_t Output::beginObject() {
  std::int64_t n = reserve();
  beginObject(n);
  return n;
}

void Output::beginObject(std::int64_t number) {
  offsets_[static_cast<std::size_t>(number)] = count_;
  putInt(number);
  put(" 0 obj\n");
}

void Output::putRef(const char *key, std::int64_t number) {
  put(key);
  put(" ");
  putInt(number);
  put(" 0 R\n");
}

void Output::putLengthRef() {
  lengthObject_ = reserve();
  putRef("/Length", lengthObject_);
}

void Output::beginStream(bool compress) {
  put("stream\n");
  streamStart_ = count_;
  inStream_ = true;
  compress_ = compress;
  if (compress_) {
    if (!zInit_) {
      z_ = z_stream{};
      if (deflateInit(&z_, level_) != Z_OK)
        throw RaisedError{ErrZlib, "Error in zlib function 'deflateInit'"};
      zInit_ = true;
    } else if (deflateReset(&z_) != Z_OK) {
      throw RaisedError{ErrZlib, "Error in zlib function 'deflateReset'"};
    }
    if (zbuf_.empty())
      zbuf_.resize(32 * 1024);
  }
}

void Output::deflateChunk(const void *data, std::size_t n, int flushMode) {
  z_.next_in = static_cast<Bytef *>(const_cast<void *>(data));
  z_.avail_in = static_cast<uInt>(n);
  for (;;) {
    z_.next_out = zbuf_.data();
    z_.avail_out = static_cast<uInt>(zbuf_.size());
    int rc = deflate(&z_, flushMode);
    if (rc == Z_STREAM_ERROR)
      throw RaisedError{ErrZlib, flushMode == Z_FINISH ? "Error in zlib function 'Z_FINISH'"
                                                       : "Error in zlib function 'Z_NO_FLUSH'"};
    std::size_t produced = zbuf_.size() - z_.avail_out;
    put(zbuf_.data(), produced);
    if (flushMode == Z_FINISH) {
      if (rc == Z_STREAM_END)
        break;
    } else if (z_.avail_in == 0 && z_.avail_out != 0) {
      break;
    }
  }
}

void Output::write(const void *data, std::size_t n) {
  if (n == 0)
    return;
  if (!compress_) {
    put(data, n);
    return;
  }
  const auto *p = static_cast<const std::uint8_t *>(data);
  constexpr std::size_t kMaxChunk = 1u << 30;
  while (n > 0) {
    std::size_t take = n < kMaxChunk ? n : kMaxChunk;
    deflateChunk(p, take, Z_NO_FLUSH);
    p += take;
    n -= take;
  }
}

void Output::endStream() {
  if (compress_)
    deflateChunk(nullptr, 0, Z_FINISH);
  std::int64_t length = count_ - streamStart_;
  inStream_ = false;
  compress_ = false;
  put("\nendstream\n");
  put("endobj\n");
  beginObject(lengthObject_);
  putInt(length);
  put("\n");
  put("endobj\n");
}

} // namespace detail
} // namespace pdf
