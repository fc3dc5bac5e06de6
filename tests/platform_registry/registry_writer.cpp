// Writes <count> DWORD values named <prefix><i> = i into the settings key, one write per value.
#include "platform/registry.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char *argv[]) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <prefix> <count>\n", argv[0]);
    return 2;
  }
  const std::string prefix = argv[1];
  const int count = std::atoi(argv[2]);
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    auto key =
        platform::RegKey::create(platform::Hive::CurrentUser, "Software\\Tarvik\\Folvex2", platform::RegAccess::Write);
    if (!key || !key->setDword(prefix + std::to_string(i), static_cast<uint32_t>(i)))
      ++failed;
  }
  if (failed)
    std::fprintf(stderr, "%d writes failed\n", failed);
  return failed ? 1 : 0;
}
