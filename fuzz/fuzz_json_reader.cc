// libFuzzer target: ParseJson on any bytes, then the walks over its tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exercise_value.h"
#include "readers/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader takes NUL-terminated text and stops at the first NUL.
  const std::string text(reinterpret_cast<const char*>(data), size);
  vaq::ValueResult result = vaq::ParseJson(text.c_str());
  vaq::fuzz::ExerciseResult(result);
  return 0;
}
