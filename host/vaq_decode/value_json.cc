#include "vaq_decode/value_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace vaq_decode {

namespace {

using vaq::Value;
using vaq::ValueKind;
using vaq::ValueMember;

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const auto continuation = [&](size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
  const unsigned char first = byte(0);
  if (first < 0x80) return 1;
  if (first >= 0xC2 && first <= 0xDF) return continuation(1) ? 2 : 0;
  if (first >= 0xE0 && first <= 0xEF) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (first == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (first == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (first >= 0xF0 && first <= 0xF4) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (first == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (first == 0xF4 && byte(1) >= 0x90) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// The two-character escape of `c`, or null.
const char* ShortEscape(unsigned char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

// Whether `c` stands for itself inside a JSON string.
bool IsPlain(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

void AppendQuoted(std::string* out, std::string_view text) {
  out->push_back('"');
  size_t i = 0;
  while (i < text.size()) {
    // Runs of plain characters go out in one piece.
    size_t plain = i;
    while (plain < text.size() && IsPlain(static_cast<unsigned char>(text[plain]))) ++plain;
    if (plain > i) {
      out->append(text.data() + i, plain - i);
      i = plain;
      if (i == text.size()) break;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (const char* escape = ShortEscape(c)) {
      *out += escape;
      ++i;
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      *out += escape;
      ++i;
    } else if (const size_t length = Utf8SequenceLength(text.substr(i)); length > 0) {
      out->append(text.data() + i, length);
      i += length;
    } else {
      *out += "\\ufffd";  // not UTF-8
      ++i;
    }
  }
  out->push_back('"');
}

void AppendBase64(std::string* out, const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out->push_back('"');
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out->push_back(kAlphabet[(group >> 18) & 63]);
    out->push_back(kAlphabet[(group >> 12) & 63]);
    out->push_back(kAlphabet[(group >> 6) & 63]);
    out->push_back(kAlphabet[group & 63]);
  }
  const size_t left = bytes.size() - i;
  if (left > 0) {
    const uint32_t group = (bytes[i] << 16) | (left == 2 ? bytes[i + 1] << 8 : 0);
    out->push_back(kAlphabet[(group >> 18) & 63]);
    out->push_back(kAlphabet[(group >> 12) & 63]);
    out->push_back(left == 2 ? kAlphabet[(group >> 6) & 63] : '=');
    out->push_back('=');
  }
  out->push_back('"');
}

void AppendFloat(std::string* out, double number) {
  if (std::isnan(number)) {
    *out += "\"NaN\"";
    return;
  }
  if (std::isinf(number)) {
    *out += number < 0 ? "\"-Infinity\"" : "\"Infinity\"";
    return;
  }
  char buffer[64];
  // The shortest text that reads back to the same double.
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, number);
  const std::string_view text(buffer, static_cast<size_t>(written.ptr - buffer));
  *out += text;
  if (text.find_first_of(".e") == std::string_view::npos) *out += ".0";
}

template <typename Integer>
void AppendInteger(std::string* out, Integer number) {
  char buffer[24];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, number);
  out->append(buffer, static_cast<size_t>(written.ptr - buffer));
}

// The JSON text of a scalar (every kind but collection and structure).
void AppendScalar(std::string* out, const Value& value) {
  switch (value.Kind()) {
    case ValueKind::kBool:
      *out += value.GetBool() ? "true" : "false";
      break;
    case ValueKind::kSigned:
      AppendInteger(out, value.GetSigned());
      break;
    case ValueKind::kUnsigned:
      AppendInteger(out, value.GetUnsigned());
      break;
    case ValueKind::kFloat:
      AppendFloat(out, value.GetFloat());
      break;
    case ValueKind::kString:
      AppendQuoted(out, value.GetString());
      break;
    case ValueKind::kBlob:
      AppendBase64(out, value.GetBlob());
      break;
    case ValueKind::kEnum:
      AppendInteger(out, value.GetEnum().number);
      break;
    default:
      *out += "null";
      break;
  }
}

constexpr size_t kNamesAhead = 8;

void PrefetchName(const vaq::InternedString* name) {
#if defined(__GNUC__)
  __builtin_prefetch(name);
#else
  (void)name;
#endif
}

// The text being made, handed to the sink whenever it has grown past a
// piece.
struct Printer {
  static constexpr size_t kPieceSize = 64 * 1024;

  std::string text;
  const TextSink* sink = nullptr;

  void Flush(bool always) {
    if ((always || text.size() >= kPieceSize) && !text.empty()) {
      (*sink)(text);
      text.clear();
    }
  }
};

void Indent(std::string* out, size_t level) { out->append(level * 2, ' '); }

void AppendPlain(Printer* printer, const Value& value, size_t level) {
  std::string* out = &printer->text;
  if (value.Kind() == ValueKind::kCollection) {
    std::span<const Value> elements = value.Elements();
    if (elements.empty()) {
      *out += "[]";
      return;
    }
    *out += "[\n";
    for (size_t i = 0; i < elements.size(); ++i) {
      Indent(out, level + 1);
      AppendPlain(printer, elements[i], level + 1);
      *out += i + 1 < elements.size() ? ",\n" : "\n";
      printer->Flush(false);
    }
    Indent(out, level);
    *out += "]";
  } else if (value.Kind() == ValueKind::kStructure) {
    vaq::MemberRange members = value.Members();
    if (members.empty()) {
      *out += "{}";
      return;
    }
    *out += "{\n";
    size_t i = 0;
    // The names lie elsewhere in memory, in the order they were first
    // read: asking for them a few members ahead keeps a large structure
    // from waiting on each in turn.
    vaq::MemberRange::iterator ahead = members.begin();
    for (size_t step = 0; step < kNamesAhead && ahead != members.end(); ++step) ++ahead;
    for (const ValueMember& member : members) {
      if (ahead != members.end()) {
        PrefetchName(ahead->name);
        ++ahead;
      }
      Indent(out, level + 1);
      AppendQuoted(out, member.name->view());
      *out += ": ";
      AppendPlain(printer, member.value, level + 1);
      *out += ++i < members.size() ? ",\n" : "\n";
      printer->Flush(false);
    }
    Indent(out, level);
    *out += "}";
  } else {
    AppendScalar(out, value);
  }
}

void AppendKinds(Printer* printer, const Value& value, size_t level) {
  std::string* out = &printer->text;
  const bool isCollection = value.Kind() == ValueKind::kCollection;
  const bool isStructure = value.Kind() == ValueKind::kStructure;
  if ((!isCollection && !isStructure) || value.Size() == 0) {
    *out += "{\"kind\": \"";
    *out += vaq::ValueKindName(value.Kind());
    *out += "\", \"value\": ";
    if (isCollection) {
      *out += "[]";
    } else if (isStructure) {
      *out += "{}";
    } else {
      AppendScalar(out, value);
    }
    *out += "}";
    return;
  }
  *out += "{\n";
  Indent(out, level + 1);
  *out += isCollection ? "\"kind\": \"collection\",\n" : "\"kind\": \"structure\",\n";
  Indent(out, level + 1);
  *out += isCollection ? "\"value\": [\n" : "\"value\": {\n";
  if (isCollection) {
    std::span<const Value> elements = value.Elements();
    for (size_t i = 0; i < elements.size(); ++i) {
      Indent(out, level + 2);
      AppendKinds(printer, elements[i], level + 2);
      *out += i + 1 < elements.size() ? ",\n" : "\n";
      printer->Flush(false);
    }
  } else {
    vaq::MemberRange members = value.Members();
    size_t i = 0;
    for (const ValueMember& member : members) {
      Indent(out, level + 2);
      AppendQuoted(out, member.name->view());
      *out += ": ";
      AppendKinds(printer, member.value, level + 2);
      *out += ++i < members.size() ? ",\n" : "\n";
      printer->Flush(false);
    }
  }
  Indent(out, level + 1);
  *out += isCollection ? "]\n" : "}\n";
  Indent(out, level);
  *out += "}";
}

}  // namespace

namespace {

void Print(const Value& value, const TextSink& sink, void (*walk)(Printer*, const Value&, size_t)) {
  Printer printer;
  printer.sink = &sink;
  walk(&printer, value, 0);
  printer.text += "\n";
  printer.Flush(true);
}

std::string Whole(const Value& value, void (*write)(const Value&, const TextSink&)) {
  std::string text;
  write(value, [&text](std::string_view piece) { text += piece; });
  return text;
}

}  // namespace

void WriteValueJson(const Value& value, const TextSink& sink) { Print(value, sink, AppendPlain); }

void WriteValueKindsJson(const Value& value, const TextSink& sink) { Print(value, sink, AppendKinds); }

std::string ValueJson(const Value& value) { return Whole(value, WriteValueJson); }

std::string ValueKindsJson(const Value& value) { return Whole(value, WriteValueKindsJson); }

}  // namespace vaq_decode
