// Positional message formatting.
//
// Messages of the runtime are written with numbered placeholders ("%1 which
// supports plugin API %2 ..."). A placeholder may also carry printf flags,
// width and precision ("%1$08x"), and a plain printf placeholder ("%s")
// takes the next argument in sequence. Output goes into a fixed 4096-byte
// buffer and never past it.
//
// Each argument travels with a descriptor (FormatArg) chosen by its type
// through the MakeFormatArg overload set; other modules add overloads for
// their own types (found by argument-dependent lookup) in the same pattern:
// a conversion set whose first character is the default conversion, and a
// length modifier where needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace vaq {

// Capacity of every formatting buffer, terminator included.
inline constexpr size_t kFormatBufferSize = 4096;

// Largest width or precision taken from an argument ("*"); a larger one, or
// a negative one of larger magnitude, is cut to it, so that a stray value
// cannot make the C library pad for seconds.
inline constexpr int64_t kMaxArgumentWidth = int64_t{1} << 20;

// Describes one argument. `value` points at the caller's object, which must
// outlive the Format call.
struct FormatArg {
  // Prints the argument at `out` with room for `room` bytes (terminator
  // included). `spec` is the placeholder's printf specification as parsed
  // (it starts with "%" and may end with a conversion character; a width or
  // precision given by "*" has already been replaced by its digits); the
  // function completes it for its own type and prints. Returns the number
  // of characters written, or `room` when the output was cut.
  using FormatFunction = size_t (*)(char* out, size_t room, const char* spec, const void* value);
  // Reads the argument as a width or precision; only called when
  // `servesAsInteger` is set.
  using IntegerFunction = int64_t (*)(const void* value);

  FormatFunction format;
  IntegerFunction toInteger;
  bool servesAsInteger;
  const void* value;
};

// Formats into `out` (capacity bytes, terminator included) and returns the
// number of characters written. Stops early, keeping what was written, at a
// malformed placeholder, one whose argument does not exist, or one whose
// width or precision argument ("*") is not an integer. A width or precision
// taken from an argument is limited to kMaxArgumentWidth either way.
size_t FormatInto(char* out, size_t capacity, const char* format, const FormatArg* args, size_t count);

// Helper for argument types: completes `spec` with the type's conversion
// set (first character is the default) and length modifier. The last
// character of `spec` is the conversion when it is in the set, otherwise
// the default replaces it; a length modifier typed in the placeholder is
// dropped and `lengthModifier` put in its place, so that the completed
// specification always matches the argument the caller passes: a value of
// the type's own width, except that a "c" conversion takes an int and gets
// no modifier. A placeholder ending in "n" completes to nothing printed.
// The caller then calls snprintf with `text` and the argument itself.
// Exposed so that new argument types can follow the same rule.
struct CompletedSpec {
  char text[96];
  char conversion;  // 0 when nothing is to be printed (the "n" conversion)
};
CompletedSpec CompleteSpec(const char* spec, const char* conversions, const char* lengthModifier);

// Helper for argument types printed as text (conversion set "s"): prints
// `text`, which need not be NUL-terminated, under `spec` and returns what
// a FormatFunction returns.
size_t FormatTextInto(char* out, size_t room, const char* spec, std::string_view text);

// Descriptors for the built-in argument types. Integers of 32 bits or less
// print as 32-bit numbers, 64-bit ones with the "ll" modifier; a plain char
// is a character.
FormatArg MakeFormatArg(const char& value);
FormatArg MakeFormatArg(const signed char& value);
FormatArg MakeFormatArg(const unsigned char& value);
FormatArg MakeFormatArg(const short& value);
FormatArg MakeFormatArg(const unsigned short& value);
FormatArg MakeFormatArg(const int& value);
FormatArg MakeFormatArg(const unsigned int& value);
FormatArg MakeFormatArg(const long& value);
FormatArg MakeFormatArg(const unsigned long& value);
FormatArg MakeFormatArg(const long long& value);
FormatArg MakeFormatArg(const unsigned long long& value);
FormatArg MakeFormatArg(const double& value);
FormatArg MakeFormatArg(const float& value);
FormatArg MakeFormatArg(const bool& value);
FormatArg MakeFormatArg(const std::string& value);
FormatArg MakeFormatArg(const std::string_view& value);
// A NUL-terminated text; `value` points at the pointer. Null prints "(null)".
FormatArg MakeFormatArg(const char* const& value);
FormatArg MakeFormatArg(char* const& value);
// An error record: "Success" when it holds no error, otherwise
// "<number> (<message>)", or an empty text when the message is empty.
FormatArg MakeFormatArg(const std::error_code& value);

// A descriptor whose `value` is the NUL-terminated text itself (used for
// character arrays such as string literals, which have no pointer object
// to point at).
FormatArg MakeTextFormatArg(const char* text);

// Chooses the descriptor of one argument: character arrays by their text,
// everything else through the MakeFormatArg overloads.
template <typename T>
FormatArg FormatArgOf(const T& value) {
  if constexpr (std::is_array_v<T>) {
    return MakeTextFormatArg(value);
  } else {
    return MakeFormatArg(value);
  }
}

// Formats with descriptors built from `args` and returns the text (at most
// 4095 characters).
template <typename... Args>
std::string Format(const char* format, const Args&... args) {
  char buffer[kFormatBufferSize];
  if constexpr (sizeof...(Args) == 0) {
    size_t length = FormatInto(buffer, sizeof buffer, format, nullptr, 0);
    return std::string(buffer, length);
  } else {
    const FormatArg descriptors[] = {FormatArgOf(args)...};
    size_t length = FormatInto(buffer, sizeof buffer, format, descriptors, sizeof...(Args));
    return std::string(buffer, length);
  }
}

}  // namespace vaq
