#include "remoting/host_method.h"

namespace vaq {

uint32_t NormalizeMethod(uint32_t code) { return code >= kMethodDelete && code <= kMethodCustom ? code : kMethodNone; }

const char* MethodName(uint32_t code) {
  static const char* const kNames[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
  return code < sizeof kNames / sizeof kNames[0] ? kNames[code] : "";
}

}  // namespace vaq
