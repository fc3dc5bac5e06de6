#pragma once
// Helpers shared by the two CUPS clients (queues and jobs): owning pointers for requests and connections, the
// password callback that never asks, and bounded text of an attribute.

#include <cups/cups.h>

#include <cstddef>
#include <memory>
#include <string>

namespace platform::ipp {

struct IppDeleter {
  void operator()(ipp_t *p) const { ippDelete(p); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;
struct HttpDeleter {
  void operator()(http_t *p) const { httpClose(p); }
};
using HttpPtr = std::unique_ptr<http_t, HttpDeleter>;

// We never prompt for a password: a request that needs one fails as "forbidden".
inline const char *noPassword(const char *, http_t *, const char *, const char *, void *) { return nullptr; }

constexpr size_t kMaxText = 1024; // longest text we keep from a server attribute

inline std::string text(ipp_attribute_t *attr, int index = 0) {
  const char *s = attr ? ippGetString(attr, index, nullptr) : nullptr;
  if (!s)
    return {};
  std::string out(s);
  if (out.size() > kMaxText)
    out.resize(kMaxText);
  return out;
}

} // namespace platform::ipp
