// libFuzzer target: any bytes as a Wine registry file (user.reg), parsed and searched for
// Zentavo's entry. A refused file is fine; a crash, a hang or a read outside the input is not.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "host/wine_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto registry =
      host::WineRegistry::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (registry) {
    (void)registry->FindString("Software\\VB and VBA Program Settings\\ZentavoSettings\\DB",
                               "Root");
  }
  return 0;
}
