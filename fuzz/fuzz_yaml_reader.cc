// libFuzzer target: ParseYaml on any bytes, then the walks over its tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "exercise_value.h"
#include "readers/yaml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  vaq::ValueResult result = vaq::ParseYaml(text.c_str(), text.size());
  vaq::fuzz::ExerciseResult(result);
  return 0;
}
