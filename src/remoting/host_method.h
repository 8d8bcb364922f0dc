// Method codes of requests.
#pragma once

#include <cstdint>

namespace vaq {

enum HostMethod : uint32_t {
  kMethodNone = 0,
  kMethodDelete = 1,
  kMethodGet = 2,
  kMethodHead = 3,
  kMethodOptions = 4,
  kMethodPatch = 5,
  kMethodPost = 6,
  kMethodPut = 7,
  kMethodCustom = 8,
};

// Any code to 1..8, or 0 outside that range.
uint32_t NormalizeMethod(uint32_t code);
// "DELETE" ... "PUT" for 1 to 7; "" for every other code (the custom
// method's name travels in the request record).
const char* MethodName(uint32_t code);

}  // namespace vaq
