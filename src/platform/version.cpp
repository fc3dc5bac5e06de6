#include "platform/version.h"

#include "platform/paths.h"

#include <cctype>
#include <sys/utsname.h>

namespace platform {

OsVersion parseKernelRelease(const std::string &release) {
  OsVersion v;
  int *fields[] = {&v.major, &v.minor, &v.build};
  size_t pos = 0;
  for (int i = 0; i < 3; ++i) {
    if (pos >= release.size() || !std::isdigit(static_cast<unsigned char>(release[pos])))
      break;
    long n = 0;
    while (pos < release.size() && std::isdigit(static_cast<unsigned char>(release[pos]))) {
      if (n < 1000000)
        n = n * 10 + (release[pos] - '0');
      ++pos;
    }
    *fields[i] = static_cast<int>(n);
    if (i < 2 && pos < release.size() && release[pos] == '.')
      ++pos;
    else
      break;
  }
  while (pos < release.size() && (release[pos] == '-' || release[pos] == '.' || release[pos] == '+'))
    ++pos;
  v.servicePack = release.substr(pos);
  return v;
}

OsVersion osVersion() {
  utsname u{};
  OsVersion v = ::uname(&u) == 0 ? parseKernelRelease(u.release) : OsVersion{};
  v.platformId = platformId();
  return v;
}

} // namespace platform
