#include "platform/heap_failure_setting.h"

#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace vaq {

namespace {

// Reads a decimal number from `*text` up to ':' or the end; false unless
// at least one digit came and nothing else.
bool ReadNumber(const char** text, uint64_t* number) {
  const char* start = *text;
  uint64_t value = 0;
  const char* at = start;
  while (*at >= '0' && *at <= '9') {
    const uint64_t digit = static_cast<uint64_t>(*at - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
    ++at;
  }
  if (at == start || (*at != '\0' && *at != ':')) return false;
  *number = value;
  *text = at;
  return true;
}

}  // namespace

bool ParseHeapFailurePlan(const char* text, HeapFailurePlan* plan) {
  *plan = HeapFailurePlan{};
  if (text == nullptr || text[0] == '\0') return false;
  const struct {
    const char* prefix;
    HeapFailurePlan::Mode mode;
  } forms[] = {{"once:", HeapFailurePlan::Mode::kOnce},
               {"from:", HeapFailurePlan::Mode::kFromOn},
               {"one-in:", HeapFailurePlan::Mode::kOneIn}};
  for (const auto& form : forms) {
    const size_t length = std::strlen(form.prefix);
    if (std::strncmp(text, form.prefix, length) != 0) continue;
    const char* at = text + length;
    HeapFailurePlan parsed{form.mode, 0, 0};
    if (!ReadNumber(&at, &parsed.k) || parsed.k == 0) return false;
    if (*at == ':') {
      ++at;
      if (form.mode != HeapFailurePlan::Mode::kOneIn || !ReadNumber(&at, &parsed.seed) || *at != '\0') return false;
    }
    *plan = parsed;
    return true;
  }
  return false;
}

HeapFailurePlan ArmHeapFailuresFromEnvironment() {
  char text[64];
  HeapFailurePlan plan;
  if (platform::EnvironmentVariable(kFailAllocationsVariable, text, sizeof text) > 0) ParseHeapFailurePlan(text, &plan);
  Heap::FailAllocations(plan);
  return plan;
}

}  // namespace vaq
