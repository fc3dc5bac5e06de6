// The operating system version, as GetVersionEx reports it, taken from the running kernel.
#pragma once

#include <string>

namespace platform {

struct OsVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  std::string servicePack; // the rest of the kernel release after its three numbers ("18-amd64"), may be empty
  int platformId = 2;      // platformId() at the time of the call
};

OsVersion osVersion();

// Splits a kernel release such as "6.1.0-18-amd64" into the fields above (platformId left as is).
OsVersion parseKernelRelease(const std::string &release);

} // namespace platform
