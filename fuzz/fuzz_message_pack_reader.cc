// libFuzzer target: DecodeMessagePack on any bytes, then the walks over
// its tree.
#include <cstddef>
#include <cstdint>

#include "exercise_value.h"
#include "readers/message_pack_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t consumed = 0;
  vaq::ValueResult result = vaq::DecodeMessagePack(data, size, &consumed);
  vaq::fuzz::Check(consumed <= size, "consumed stays within the input");
  vaq::fuzz::ExerciseResult(result);
  return 0;
}
