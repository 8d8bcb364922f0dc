#include "diagnostics/message_format.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

namespace vaq {

namespace {

// Longest placeholder specification, counted as it stands in the format
// ("%", flags, width, precision, length modifier, conversion; "*" counts
// as one character).
constexpr size_t kMaxSpecLength = 59;

// Room for a specification once every "*" became its digits: each of the
// two grows to at most "-1048576".
constexpr size_t kSpecBufferSize = kMaxSpecLength + 2 * 8 + 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `c` is one of the characters of `set` (never for the NUL).
bool IsOneOf(char c, const char* set) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Reads a run of decimal digits at `p`, saturating instead of overflowing.
uint64_t ReadNumber(const char*& p) {
  uint64_t number = 0;
  while (IsDigit(*p)) {
    number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(*p - '0'), UINT32_MAX);
    ++p;
  }
  return number;
}

// Converts snprintf's result to what a format function returns.
size_t PrintedLength(int result, size_t room) {
  if (result < 0) return 0;  // e.g. a literal width beyond the C library's range
  size_t length = static_cast<size_t>(result);
  return length >= room ? room : length;
}

template <typename... Values>
size_t Print(char* out, size_t room, const char* spec, Values... values) {
  return PrintedLength(std::snprintf(out, room, spec, values...), room);
}

// Collects one placeholder's specification while it is parsed, resolving
// the arguments it takes. Works on the caller's argument array and
// sequence counter; owns only its text.
class PlaceholderParser {
 public:
  PlaceholderParser(const FormatArg* args, size_t count, size_t* next)
      : args_(args), count_(count), next_(next) {}

  // Parses the placeholder whose "%" is at `*cursor` and moves the cursor
  // past it. Returns false when the formatting must stop.
  bool Parse(const char** cursor) {
    const char* p = *cursor + 1;
    if (!Append('%')) return false;

    if (*p >= '1' && *p <= '9') {
      const char* digits = p;
      uint64_t number = ReadNumber(digits);
      if (number <= count_) {
        argument_ = static_cast<size_t>(number);
        p = digits;
        if (*p != '$') {  // a plain "%N"
          *cursor = p;
          return true;
        }
        ++p;
      }
    }

    while (IsOneOf(*p, "-+ #0")) {
      if (!Append(*p++)) return false;
    }
    if (!ParseWidth(&p, /*isPrecision=*/false)) return false;
    if (*p == '.') {
      ++p;
      if (!ParseWidth(&p, /*isPrecision=*/true)) return false;
    }
    if (IsOneOf(*p, "Ljtz")) {
      if (!Append(*p++)) return false;
    } else if (*p == 'h' || *p == 'l') {
      char modifier = *p;
      if (!Append(*p++)) return false;
      if (*p == modifier && !Append(*p++)) return false;
    }
    if (*p == '\0') return false;  // the text ends before the conversion
    if (!Append(*p++)) return false;

    if (argument_ == 0 && !TakeNext(&argument_)) return false;
    *cursor = p;
    return true;
  }

  const char* spec() const { return text_; }
  // Index into the argument array.
  size_t argument() const { return argument_ - 1; }

 private:
  // Copies one character of the placeholder; fails when it gets too long.
  bool Append(char c) {
    if (!Count()) return false;
    text_[length_++] = c;
    text_[length_] = '\0';
    return true;
  }

  // Counts one character of the placeholder without copying it.
  bool Count() { return ++parsed_ <= kMaxSpecLength; }

  void AppendText(const char* text) {
    while (*text != '\0' && length_ + 1 < sizeof text_) text_[length_++] = *text++;
    text_[length_] = '\0';
  }

  // Takes the next argument in sequence (1-based).
  bool TakeNext(size_t* argument) {
    if (*next_ > count_) return false;
    *argument = (*next_)++;
    return true;
  }

  // A width, or a precision after its ".": digits, or "*" with an optional
  // "N$", whose argument's value replaces it.
  bool ParseWidth(const char** cursor, bool isPrecision) {
    const char* p = *cursor;
    if (isPrecision && !Count()) return false;  // the "."
    if (*p == '-') ++p;
    if (*p == '*') {
      if (!Count()) return false;
      ++p;
      size_t source = 0;
      const char* digits = p;
      uint64_t number = ReadNumber(digits);
      if (digits != p && *digits == '$') {
        if (number < 1 || number > count_) return false;
        source = static_cast<size_t>(number);
        p = digits + 1;
      } else if (!TakeNext(&source)) {
        return false;
      }
      const FormatArg& arg = args_[source - 1];
      if (!arg.servesAsInteger || arg.toInteger == nullptr) return false;
      int64_t value = std::clamp(arg.toInteger(arg.value), -kMaxArgumentWidth, kMaxArgumentWidth);
      // printf reads a negative width as "-" and its magnitude, and a
      // negative precision as none at all.
      if (!isPrecision || value >= 0) {
        char digitsText[24];
        std::snprintf(digitsText, sizeof digitsText, isPrecision ? ".%lld" : "%lld",
                      static_cast<long long>(value));
        AppendText(digitsText);
      }
    } else {
      if (isPrecision) AppendText(".");
      while (IsDigit(*p)) {
        if (!Append(*p++)) return false;
      }
    }
    *cursor = p;
    return true;
  }

  const FormatArg* args_;
  size_t count_;
  size_t* next_;
  size_t argument_ = 0;  // 1-based; 0 until known
  size_t parsed_ = 0;
  size_t length_ = 0;
  char text_[kSpecBufferSize] = {};
};

// --- Built-in argument types ----------------------------------------------

// Prints an integer given as its two's-complement bits, 32 or 64 bits wide.
size_t PrintInteger(char* out, size_t room, const char* spec, const char* conversions, bool wide,
                    uint64_t bits) {
  CompletedSpec completed = CompleteSpec(spec, conversions, wide ? "ll" : "");
  switch (completed.conversion) {
    case 0:
      return 0;
    case 'c':
      return Print(out, room, completed.text, static_cast<int>(static_cast<uint32_t>(bits)));
    case 'd':
    case 'i':
      if (wide) return Print(out, room, completed.text, static_cast<long long>(bits));
      return Print(out, room, completed.text, static_cast<int>(static_cast<uint32_t>(bits)));
    default:
      if (wide) return Print(out, room, completed.text, static_cast<unsigned long long>(bits));
      return Print(out, room, completed.text, static_cast<unsigned int>(bits));
  }
}

template <typename T>
size_t FormatInteger(char* out, size_t room, const char* spec, const void* value) {
  T number = *static_cast<const T*>(value);
  const char* conversions = std::is_same_v<T, char> ? "cdiouxX"
                            : std::is_signed_v<T>   ? "dciouxX"
                                                    : "ucdioxX";
  uint64_t bits = std::is_signed_v<T> ? static_cast<uint64_t>(static_cast<int64_t>(number))
                                      : static_cast<uint64_t>(number);
  return PrintInteger(out, room, spec, conversions, sizeof(T) > 4, bits);
}

template <typename T>
int64_t IntegerValue(const void* value) {
  T number = *static_cast<const T*>(value);
  if constexpr (std::is_signed_v<T>) {
    return static_cast<int64_t>(number);
  } else {
    return static_cast<int64_t>(std::min<uint64_t>(number, INT64_MAX));
  }
}

template <typename T>
FormatArg IntegerArg(const T& value) {
  return FormatArg{&FormatInteger<T>, &IntegerValue<T>, true, &value};
}

size_t FormatBool(char* out, size_t room, const char* spec, const void* value) {
  bool flag = *static_cast<const bool*>(value);
  return PrintInteger(out, room, spec, "dciouxX", false, flag ? 1 : 0);
}

int64_t BoolValue(const void* value) { return *static_cast<const bool*>(value) ? 1 : 0; }

template <typename T>
size_t FormatFloat(char* out, size_t room, const char* spec, const void* value) {
  double number = *static_cast<const T*>(value);
  CompletedSpec completed = CompleteSpec(spec, "gaefGAEF", "");
  if (completed.conversion == 0) return 0;
  return Print(out, room, completed.text, number);
}

size_t FormatString(char* out, size_t room, const char* spec, const void* value) {
  return FormatTextInto(out, room, spec, *static_cast<const std::string*>(value));
}

size_t FormatStringView(char* out, size_t room, const char* spec, const void* value) {
  return FormatTextInto(out, room, spec, *static_cast<const std::string_view*>(value));
}

size_t FormatCString(const char* text, char* out, size_t room, const char* spec) {
  return FormatTextInto(out, room, spec, text == nullptr ? std::string_view("(null)") : std::string_view(text));
}

size_t FormatCStringPointer(char* out, size_t room, const char* spec, const void* value) {
  return FormatCString(*static_cast<const char* const*>(value), out, room, spec);
}

size_t FormatLiteralText(char* out, size_t room, const char* spec, const void* value) {
  return FormatCString(static_cast<const char*>(value), out, room, spec);
}

size_t FormatErrorCode(char* out, size_t room, const char* spec, const void* value) {
  const std::error_code& error = *static_cast<const std::error_code*>(value);
  if (!error) return FormatTextInto(out, room, spec, "Success");
  std::string message = error.message();
  if (message.empty()) return FormatTextInto(out, room, spec, "");
  return FormatTextInto(out, room, spec, Format("%1 (%2)", error.value(), message));
}

// A descriptor for an argument that cannot serve as a width or precision.
FormatArg PlainArg(FormatArg::FormatFunction format, const void* value) {
  return FormatArg{format, nullptr, false, value};
}

}  // namespace

size_t FormatInto(char* out, size_t capacity, const char* format, const FormatArg* args, size_t count) {
  if (out == nullptr || capacity == 0) return 0;
  size_t written = 0;
  size_t next = 1;  // the next argument in sequence, 1-based
  const char* p = format == nullptr ? "" : format;
  while (*p != '\0' && written + 1 < capacity) {
    if (*p != '%') {
      out[written++] = *p++;
      continue;
    }
    if (p[1] == '%') {
      out[written++] = '%';
      p += 2;
      continue;
    }
    PlaceholderParser placeholder(args, count, &next);
    if (!placeholder.Parse(&p)) break;
    const FormatArg& arg = args[placeholder.argument()];
    size_t room = capacity - written;
    written += std::min(arg.format(out + written, room, placeholder.spec(), arg.value), room);
  }
  written = std::min(written, capacity - 1);
  out[written] = '\0';
  return written;
}

CompletedSpec CompleteSpec(const char* spec, const char* conversions, const char* lengthModifier) {
  CompletedSpec completed = {};
  size_t length = std::strlen(spec);
  const char* body = spec[0] == '%' ? spec + 1 : spec;
  const char* end = spec + length;
  char conversion = conversions[0];
  if (end > body) {
    char last = *--end;
    if (last == 'n') return completed;  // never handed to printf
    if (IsOneOf(last, conversions)) conversion = last;
  }
  const char* modifier = conversion == 'c' ? "" : lengthModifier;

  // Keep flags, width and precision; anything else (a typed length
  // modifier) is replaced by the type's own.
  size_t limit = sizeof completed.text - std::strlen(modifier) - 2;
  size_t used = 0;
  completed.text[used++] = '%';
  for (const char* p = body; p < end && used < limit; ++p) {
    if (IsOneOf(*p, "-+ #0123456789.")) completed.text[used++] = *p;
  }
  while (*modifier != '\0') completed.text[used++] = *modifier++;
  completed.text[used++] = conversion;
  completed.text[used] = '\0';
  completed.conversion = conversion;
  return completed;
}

size_t FormatTextInto(char* out, size_t room, const char* spec, std::string_view text) {
  CompletedSpec completed = CompleteSpec(spec, "s", "");
  if (completed.conversion == 0) return 0;
  // Bound the text by its length, and by the placeholder's own precision
  // when it has one: "%5.3s" becomes "%5.*s" with min(3, length).
  char bounded[sizeof completed.text + 4];
  std::strcpy(bounded, completed.text);
  size_t precision = text.size();
  char* cut = std::strchr(bounded, '.');
  if (cut != nullptr) {
    const char* digits = cut + 1;
    precision = std::min<uint64_t>(precision, ReadNumber(digits));
  } else {
    cut = bounded + std::strlen(bounded) - 1;  // the "s"
  }
  std::strcpy(cut, ".*s");
  const char* data = text.data() == nullptr ? "" : text.data();
  return Print(out, room, bounded, static_cast<int>(std::min<size_t>(precision, INT_MAX)), data);
}

FormatArg MakeFormatArg(const char& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const signed char& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const unsigned char& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const short& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const unsigned short& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const int& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const unsigned int& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const long& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const unsigned long& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const long long& value) { return IntegerArg(value); }
FormatArg MakeFormatArg(const unsigned long long& value) { return IntegerArg(value); }

FormatArg MakeFormatArg(const double& value) { return PlainArg(&FormatFloat<double>, &value); }
FormatArg MakeFormatArg(const float& value) { return PlainArg(&FormatFloat<float>, &value); }

FormatArg MakeFormatArg(const bool& value) { return FormatArg{&FormatBool, &BoolValue, true, &value}; }

FormatArg MakeFormatArg(const std::string& value) { return PlainArg(&FormatString, &value); }
FormatArg MakeFormatArg(const std::string_view& value) { return PlainArg(&FormatStringView, &value); }
FormatArg MakeFormatArg(const char* const& value) { return PlainArg(&FormatCStringPointer, &value); }
FormatArg MakeFormatArg(char* const& value) { return PlainArg(&FormatCStringPointer, &value); }
FormatArg MakeFormatArg(const std::error_code& value) { return PlainArg(&FormatErrorCode, &value); }

FormatArg MakeTextFormatArg(const char* text) { return PlainArg(&FormatLiteralText, text); }

}  // namespace vaq
