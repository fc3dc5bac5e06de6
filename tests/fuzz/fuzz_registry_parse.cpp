// The hive text parser on arbitrary bytes: it must never crash, and whatever it accepts must survive being written
// and read back unchanged (no value lost or altered).
#include "platform/registry_file.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace platform;

namespace {

bool same(const regfile::HiveData &a, const regfile::HiveData &b) {
  if (a.keys.size() != b.keys.size())
    return false;
  for (size_t k = 0; k < a.keys.size(); ++k) {
    const auto &x = a.keys[k], &y = b.keys[k];
    if (x.path != y.path || x.values.size() != y.values.size())
      return false;
    for (size_t v = 0; v < x.values.size(); ++v)
      if (x.values[v].name != y.values[v].name || x.values[v].type != y.values[v].type ||
          x.values[v].data != y.values[v].data)
        return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  for (Hive hive : {Hive::CurrentUser, Hive::LocalMachine}) {
    regfile::HiveData parsed;
    if (!regfile::parse(text, hive, parsed))
      continue;
    regfile::HiveData again;
    if (!regfile::parse(regfile::format(parsed, hive), hive, again) || !same(parsed, again))
      __builtin_trap(); // a hive that does not read back as it was written loses values
  }
  return 0;
}
