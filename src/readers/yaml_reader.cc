#include "readers/yaml_reader.h"

#include <yaml.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "diagnostics/message_format.h"
#include "readers/tree_builder.h"
#include "value/text_number.h"

namespace vaq {

namespace {

constexpr const char kStringTag[] = "tag:yaml.org,2002:str";
constexpr const char kIntTag[] = "tag:yaml.org,2002:int";
constexpr const char kFloatTag[] = "tag:yaml.org,2002:float";
constexpr const char kBoolTag[] = "tag:yaml.org,2002:bool";

// The name and type names that tagged numbers report in their messages.
constexpr const char kSourceName[] = "yaml";

// What the anchors of one stream may record (path steps and names, key
// texts) and what its aliases may read and copy as text (the names on the
// way to the anchored value, and the strings and member names inside it),
// all together. Far above any real payload; without them a small text
// could make the reader hold or copy gigabytes: long keys above many
// anchors, or many aliases of a long text.
constexpr size_t kMaxAnchorBytes = size_t{64} << 20;
constexpr size_t kMaxAliasTextBytes = size_t{64} << 20;

// Owns a libyaml parser for one read.
class Parser {
 public:
  Parser() { ready_ = yaml_parser_initialize(&parser_) != 0; }
  ~Parser() {
    if (ready_) yaml_parser_delete(&parser_);
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool ready() const { return ready_; }
  yaml_parser_t* get() { return &parser_; }

 private:
  yaml_parser_t parser_;
  bool ready_;
};

// Holds the event being handled. yaml_parser_parse clears an event before
// it fills it, and yaml_event_delete clears it after releasing it, so one
// object serves the whole read and deleting a cleared event is harmless.
class Event {
 public:
  Event() { std::memset(&event_, 0, sizeof event_); }
  ~Event() { yaml_event_delete(&event_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  yaml_event_t* get() { return &event_; }
  void Release() { yaml_event_delete(&event_); }

 private:
  yaml_event_t event_;
};

std::string_view Text(const yaml_char_t* text) {
  return text == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(text));
}

bool IsNullWord(std::string_view text) {
  return text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL";
}

// 1 for true, 0 for false, -1 for any other text.
int BoolWord(std::string_view text) {
  if (text == "true" || text == "True" || text == "TRUE") return 1;
  if (text == "false" || text == "False" || text == "FALSE") return 0;
  return -1;
}

// A number read from an untagged scalar, until it is handed to the tree.
struct ResolvedNumber {
  enum class Kind : uint8_t { kSigned, kUnsigned, kFloat } kind = Kind::kUnsigned;
  int64_t signedValue = 0;
  uint64_t unsignedValue = 0;
  double floatValue = 0;

  void SetSigned(int64_t value) {
    kind = Kind::kSigned;
    signedValue = value;
  }
  void SetUnsigned(uint64_t value) {
    kind = Kind::kUnsigned;
    unsignedValue = value;
  }
  void SetFloat(double value) {
    kind = Kind::kFloat;
    floatValue = value;
  }
  bool Give(TreeBuilder& builder) const {
    switch (kind) {
      case Kind::kSigned:
        return builder.Signed(signedValue);
      case Kind::kUnsigned:
        return builder.Unsigned(unsignedValue);
      case Kind::kFloat:
        break;
    }
    return builder.Float(floatValue);
  }
};

// Reads an integer text exactly (decimal, or hexadecimal after "0x"), so
// that 64-bit numbers do not pass through a double. False when the text is
// not an integer within 64 bits.
bool ReadExactInteger(const char* text, size_t length, ResolvedNumber* target) {
  const char* end = text + length;
  const char* digits = text;
  while (digits < end && std::isspace(static_cast<unsigned char>(*digits))) ++digits;
  const bool negative = digits < end && *digits == '-';
  if (digits < end && (*digits == '-' || *digits == '+')) ++digits;
  const int base = end - digits > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X') ? 16 : 10;
  char* stop = nullptr;
  errno = 0;
  if (negative) {
    long long number = std::strtoll(text, &stop, base);
    if (stop != end || errno == ERANGE) return false;
    if (number < 0) {
      target->SetSigned(number);
    } else {
      target->SetUnsigned(0);  // "-0"
    }
    return true;
  }
  unsigned long long number = std::strtoull(text, &stop, base);
  if (stop != end || errno == ERANGE) return false;
  target->SetUnsigned(number);
  return true;
}

// Stores the double that a number text read as: integral numbers become
// integers when they fit 64 bits (read exactly when the text is an
// integer), others stay floats.
void StoreNumber(const char* text, size_t length, double number, ResolvedNumber* target) {
  if (number != std::trunc(number)) {
    target->SetFloat(number);
    return;
  }
  if (ReadExactInteger(text, length, target)) return;
  if (number < 0 && number >= -9223372036854775808.0) {
    target->SetSigned(static_cast<int64_t>(number));
  } else if (number >= 0 && number < 18446744073709551616.0) {
    target->SetUnsigned(static_cast<uint64_t>(number));
  } else {
    target->SetFloat(number);
  }
}

// The common shapes read without strtod: an optional sign, decimal digits,
// an optional fraction and exponent. Gives the same values as the C
// library (both round correctly). False when the text has another shape or
// does not read as a finite number; the caller then asks strtod.
bool ResolvePlainDecimal(const char* text, size_t length, ResolvedNumber* target) {
  const char* end = text + length;
  const char* p = text;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* digits = p;
  uint64_t integer = 0;
  while (p < end && *p >= '0' && *p <= '9') integer = integer * 10 + static_cast<uint64_t>(*p++ - '0');
  const size_t integerDigits = static_cast<size_t>(p - digits);
  if (p == end) {
    // An integer; up to 19 digits cannot overflow.
    if (integerDigits == 0 || integerDigits > 19) return false;
    if (negative && integer != 0) {
      if (integer > static_cast<uint64_t>(INT64_MAX) + 1) return false;
      target->SetSigned(static_cast<int64_t>(0 - integer));
    } else {
      target->SetUnsigned(integer);  // "-0" too
    }
    return true;
  }
  size_t fractionDigits = 0;
  if (*p == '.') {
    const char* fraction = ++p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    fractionDigits = static_cast<size_t>(p - fraction);
  }
  if (integerDigits + fractionDigits == 0) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '-' || *p == '+')) ++p;
    const char* exponent = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == exponent) return false;
  }
  if (p != end) return false;
  double number = 0;
  const char* start = *text == '+' ? text + 1 : text;
  const std::from_chars_result read = std::from_chars(start, end, number);
  if (read.ec != std::errc() || read.ptr != end || !std::isfinite(number)) return false;
  StoreNumber(text, length, number, target);
  return true;
}

// Resolves an untagged plain scalar that reads as a finite number; false
// when it is not one. `text` is NUL-terminated at `length`.
bool ResolveNumber(const char* text, size_t length, ResolvedNumber* target) {
  // strtod accepts nothing else at the start but "inf" and "nan", which
  // are not taken as numbers.
  const unsigned char first = static_cast<unsigned char>(text[0]);
  if (!std::isdigit(first) && first != '-' && first != '+' && first != '.' && !std::isspace(first)) return false;
  if (ResolvePlainDecimal(text, length, target)) return true;
  char* stop = nullptr;
  const double number = std::strtod(text, &stop);
  if (stop == text || stop != text + length || !std::isfinite(number)) return false;
  StoreNumber(text, length, number, target);
  return true;
}

// What an anchor stands for: the anchored node as it was when it closed
// (a copy, kept apart from the tree being built, which may still replace
// that node through a repeated key), or the text of an anchored mapping
// key. `open` while the anchored container is being read.
struct Anchor {
  size_t copy = 0;        // index of the node's copy in the anchor store
  std::string text;       // an anchored key's text
  size_t values = 0;      // nodes of the copy, itself included
  size_t depth = 0;       // nesting of containers in the copy
  size_t textBytes = 0;   // of the strings and names in the copy, or of `text`
  bool isText = false;
  bool open = false;
};

// One open sequence or mapping. `key` holds the mapping key read last.
// Levels are reused across containers, so key buffers keep their capacity.
struct Level {
  Anchor* anchor = nullptr;
  bool isMapping = false;
  bool hasKey = false;
  std::string key;
};

// Counts the values of a tree (itself included), its nesting depth and
// the bytes of its strings and member names, giving up once `limit` values
// are exceeded.
void Measure(const Value& value, size_t level, size_t limit, size_t* count, size_t* depth, size_t* text) {
  if (++*count > limit) return;
  if (value.Kind() == ValueKind::kString) {
    *text += value.Size();
  } else if (value.Kind() == ValueKind::kCollection) {
    if (level + 1 > *depth) *depth = level + 1;
    for (const Value& element : value.Elements()) {
      Measure(element, level + 1, limit, count, depth, text);
      if (*count > limit) return;
    }
  } else if (value.Kind() == ValueKind::kStructure) {
    if (level + 1 > *depth) *depth = level + 1;
    for (const ValueMember& member : value.Members()) {
      *text += member.name->length;
      Measure(member.value, level + 1, limit, count, depth, text);
      if (*count > limit) return;
    }
  }
}

// Turns the events of one stream into the tree of the result through a
// TreeBuilder, which owns the limits of depth and size.
class TreeReader {
 public:
  explicit TreeReader(ValueResult* result)
      : result_(result), root_(&result->value()), builder_(root_, TreeSource::kYaml) {}
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;

  // False when the event was refused (the result holds the message).
  bool Handle(const yaml_event_t& event);

 private:
  bool AwaitsKey() const { return depth_ > 0 && levels_[depth_ - 1].isMapping && !levels_[depth_ - 1].hasKey; }

  bool Fail(std::string message) {
    result_->SetError(message);
    return false;
  }
  template <typename... Args>
  bool FailAt(const yaml_event_t& event, const char* format, const Args&... args) {
    const size_t line = event.start_mark.line + 1;
    const size_t column = event.start_mark.column + 1;
    return Fail(Format(format, args..., line, column));
  }
  // Reports what the builder refused (false) at the event's node.
  bool Built(const yaml_event_t& event, bool accepted) {
    if (accepted) return true;
    SourcePosition where;
    where.line = event.start_mark.line + 1;
    where.column = event.start_mark.column + 1;
    return Fail(builder_.LimitMessage(where));
  }

  // Names the member that the next value fills, when in a mapping.
  bool SelectTarget(const yaml_event_t& event);
  // Adds an anchor; null (with the error set) when the name is taken.
  Anchor* AddAnchor(const yaml_event_t& event, const yaml_char_t* name);
  // Keeps a copy of the node just built for `anchor`; false (with the
  // error set) when the anchors would hold too much.
  bool KeepCopy(const yaml_event_t& event, Anchor* anchor);
  // Count against the limits above; false (with the error set) beyond.
  bool ChargeAnchor(const yaml_event_t& event, size_t bytes);
  bool ChargeAliasText(const yaml_event_t& event, size_t bytes);

  bool Scalar(const yaml_event_t& event);
  bool Resolve(const yaml_event_t& event);
  bool Open(const yaml_event_t& event, bool isMapping);
  bool Close(const yaml_event_t& event);
  bool Alias(const yaml_event_t& event);
  // An alias where a mapping key belongs.
  bool AliasKey(const yaml_event_t& event, const Anchor& anchor);

  ValueResult* result_;
  Value* root_;
  TreeBuilder builder_;
  std::vector<Level> levels_;
  size_t depth_ = 0;
  std::unordered_map<std::string, Anchor> anchors_;
  // The copies of anchored nodes, one element each.
  Value anchorStore_;
  size_t aliasValues_ = 0;
  size_t anchorBytes_ = 0;
  size_t aliasTextBytes_ = 0;
};

bool TreeReader::Handle(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (!root_->IsEmpty()) return Fail("Multi-document YAML is not supported.");
      // Anchors belong to their document.
      anchors_.clear();
      anchorStore_.Reset();
      return true;
    case YAML_SCALAR_EVENT:
      return Scalar(event);
    case YAML_SEQUENCE_START_EVENT:
      return Open(event, false);
    case YAML_MAPPING_START_EVENT:
      return Open(event, true);
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      return Close(event);
    case YAML_ALIAS_EVENT:
      return Alias(event);
    default:  // stream start and end, document end
      return true;
  }
}

bool TreeReader::SelectTarget(const yaml_event_t& event) {
  if (depth_ == 0) return true;
  Level& level = levels_[depth_ - 1];
  if (!level.isMapping) return true;
  level.hasKey = false;
  return Built(event, builder_.Key(level.key));
}

Anchor* TreeReader::AddAnchor(const yaml_event_t& event, const yaml_char_t* name) {
  auto [entry, inserted] = anchors_.try_emplace(std::string(Text(name)));
  if (!inserted) {
    FailAt(event, "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", entry->first);
    return nullptr;
  }
  return &entry->second;
}

bool TreeReader::KeepCopy(const yaml_event_t& event, Anchor* anchor) {
  const Value& node = builder_.LastValue();
  // A copy costs about a value record per node and the bytes of its texts.
  const size_t left = anchorBytes_ <= kMaxAnchorBytes ? kMaxAnchorBytes - anchorBytes_ : 0;
  size_t values = 0;
  size_t depth = 0;
  size_t text = 0;
  Measure(node, 0, left / sizeof(Value) + 1, &values, &depth, &text);
  if (!ChargeAnchor(event, values * sizeof(Value) + text)) return false;
  anchor->copy = anchorStore_.Size();
  anchorStore_.Append().Assign(node);
  anchor->values = values;
  anchor->depth = depth;
  anchor->textBytes = text;
  return true;
}

bool TreeReader::ChargeAnchor(const yaml_event_t& event, size_t bytes) {
  anchorBytes_ += bytes;
  if (anchorBytes_ <= kMaxAnchorBytes) return true;
  return FailAt(event, "YAML anchors record more than %1 bytes. At line: %2 col: %3", kMaxAnchorBytes);
}

bool TreeReader::ChargeAliasText(const yaml_event_t& event, size_t bytes) {
  aliasTextBytes_ += bytes;
  if (aliasTextBytes_ <= kMaxAliasTextBytes) return true;
  return FailAt(event, "YAML alias expansion exceeds %1 bytes of text. At line: %2 col: %3", kMaxAliasTextBytes);
}

bool TreeReader::Scalar(const yaml_event_t& event) {
  const auto& scalar = event.data.scalar;
  if (AwaitsKey()) {
    if (scalar.tag != nullptr && Text(scalar.tag) != kStringTag) {
      return FailAt(event, "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
    }
    Level& level = levels_[depth_ - 1];
    level.key.assign(reinterpret_cast<const char*>(scalar.value), scalar.length);
    level.hasKey = true;
    if (scalar.anchor != nullptr) {
      Anchor* anchor = AddAnchor(event, scalar.anchor);
      if (anchor == nullptr || !ChargeAnchor(event, level.key.size())) return false;
      anchor->isText = true;
      anchor->text = level.key;
      anchor->textBytes = level.key.size();
    }
    return true;
  }
  if (!SelectTarget(event)) return false;
  Anchor* anchor = nullptr;
  if (scalar.anchor != nullptr) {
    anchor = AddAnchor(event, scalar.anchor);
    if (anchor == nullptr) return false;
  }
  if (!Resolve(event)) return false;
  return anchor == nullptr || KeepCopy(event, anchor);
}

bool TreeReader::Resolve(const yaml_event_t& event) {
  const auto& scalar = event.data.scalar;
  const char* text = reinterpret_cast<const char*>(scalar.value);
  const std::string_view view(text, scalar.length);
  if (scalar.tag == nullptr) {
    const bool quoted =
        scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE || scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    if (quoted) return Built(event, builder_.String(view));
    if (IsNullWord(view)) return Built(event, builder_.Null());
    if (ResolvedNumber number; ResolveNumber(text, scalar.length, &number)) return Built(event, number.Give(builder_));
    if (int word = BoolWord(view); word >= 0) return Built(event, builder_.Bool(word == 1));
    return Built(event, builder_.String(view));
  }

  const std::string_view tag = Text(scalar.tag);
  if (tag == kStringTag) return Built(event, builder_.String(view));
  if (tag == kIntTag) {
    size_t first = 0;
    while (first < view.size() && std::isspace(static_cast<unsigned char>(view[first]))) ++first;
    if (first < view.size() && view[first] == '-') {
      int64_t number = 0;
      TextNumberError error = ReadSignedText(view, INT64_MIN, INT64_MAX, &number);
      if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "int64_t"));
      return Built(event, builder_.Signed(number));
    }
    uint64_t number = 0;
    TextNumberError error = ReadUnsignedText(view, UINT64_MAX, &number);
    if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "uint64_t"));
    return Built(event, builder_.Unsigned(number));
  }
  if (tag == kFloatTag) {
    double number = 0;
    TextNumberError error = ReadDoubleText(view, DBL_MAX, &number);
    if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "double"));
    return Built(event, builder_.Float(number));
  }
  if (tag == kBoolTag) {
    // Not a bool word: left empty.
    const int word = BoolWord(view);
    return Built(event, word >= 0 ? builder_.Bool(word == 1) : builder_.Null());
  }
  return Fail(Format("Unsupported YAML tag '%1'.", tag));
}

bool TreeReader::Open(const yaml_event_t& event, bool isMapping) {
  if (AwaitsKey()) {
    return FailAt(event, isMapping ? "Unexpected start of mapping. At line: %1 col: %2"
                                   : "Unexpected start of sequence. At line: %1 col: %2");
  }
  if (!SelectTarget(event)) return false;
  if (!Built(event, isMapping ? builder_.StartStructure() : builder_.StartCollection())) return false;
  const yaml_char_t* anchorName = isMapping ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
  Anchor* anchor = nullptr;
  if (anchorName != nullptr) {
    anchor = AddAnchor(event, anchorName);
    if (anchor == nullptr) return false;
    anchor->open = true;
  }
  if (depth_ == levels_.size()) levels_.emplace_back();
  Level& level = levels_[depth_++];
  level.anchor = anchor;
  level.isMapping = isMapping;
  level.hasKey = false;
  return true;
}

bool TreeReader::Close(const yaml_event_t& event) {
  if (depth_ == 0) return true;
  Level& level = levels_[--depth_];
  if (level.isMapping) {
    builder_.EndStructure();
  } else {
    builder_.EndCollection();
  }
  Anchor* anchor = level.anchor;
  level.anchor = nullptr;
  if (anchor == nullptr) return true;
  anchor->open = false;
  return KeepCopy(event, anchor);
}

bool TreeReader::Alias(const yaml_event_t& event) {
  const std::string_view name = Text(event.data.alias.anchor);
  auto found = anchors_.find(std::string(name));
  if (found != anchors_.end() && found->second.open) {
    return FailAt(event, "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3", name);
  }
  if (found == anchors_.end()) {
    return FailAt(event, "Undefined alias encountered: \"%1\". At line: %2 col: %3", name);
  }
  const Anchor& anchor = found->second;
  if (AwaitsKey()) return AliasKey(event, anchor);

  if (!SelectTarget(event)) return false;
  if (anchor.isText) {
    if (!ChargeAliasText(event, anchor.textBytes)) return false;
    return Built(event, builder_.String(anchor.text));
  }
  if (anchor.values > kMaxYamlAliasValues - aliasValues_) {
    return FailAt(event, "YAML alias expansion exceeds %1 values. At line: %2 col: %3", kMaxYamlAliasValues);
  }
  if (!ChargeAliasText(event, anchor.textBytes)) return false;
  aliasValues_ += anchor.values;
  return Built(event, builder_.Copy(anchorStore_.Element(anchor.copy), anchor.depth));
}

bool TreeReader::AliasKey(const yaml_event_t& event, const Anchor& anchor) {
  Level& level = levels_[depth_ - 1];
  if (anchor.isText) {
    if (!ChargeAliasText(event, anchor.textBytes)) return false;
    level.key = anchor.text;
  } else {
    const Value& source = anchorStore_.Element(anchor.copy);
    if (source.Kind() != ValueKind::kString) {
      return FailAt(event, "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
    }
    if (!ChargeAliasText(event, source.Size())) return false;
    level.key.assign(source.GetString());
  }
  level.hasKey = true;
  return true;
}

// The line and column (from 0, as libyaml counts them: a line ends at a
// line feed, a carriage return or both; a column is a character) of the
// byte at `offset`.
yaml_mark_t MarkOfOffset(const char* text, size_t length, size_t offset) {
  yaml_mark_t mark{};
  if (offset > length) offset = length;
  mark.index = offset;
  for (size_t i = 0; i < offset; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || (c == '\r' && (i + 1 >= length || text[i + 1] != '\n'))) {
      ++mark.line;
      mark.column = 0;
    } else if (c != '\r' && (c & 0xC0) != 0x80) {
      ++mark.column;  // not a UTF-8 continuation byte: a new character
    }
  }
  return mark;
}

}  // namespace

ValueResult ParseYaml(const char* text, size_t length) {
  ValueResult result;
  Parser parser;
  if (!parser.ready()) {
    result.SetError("YAML parser error: out of memory. At line: 0 col: 0");
    return result;
  }
  static const char kNothing[] = "";
  if (text == nullptr) {
    text = kNothing;
    length = 0;
  }
  yaml_parser_set_encoding(parser.get(), YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(parser.get(), reinterpret_cast<const unsigned char*>(text), length);

  TreeReader reader(&result);
  Event event;
  for (;; event.Release()) {
    if (yaml_parser_parse(parser.get(), event.get()) == 0) {
      const yaml_parser_t* state = parser.get();
      const char* problem = state->problem != nullptr ? state->problem : "unknown error";
      yaml_mark_t where = state->problem_mark;
      // Faults of the input's encoding (bytes that are not UTF-8, control
      // characters) come with a byte offset instead of a mark.
      if (state->error == YAML_READER_ERROR) where = MarkOfOffset(text, length, state->problem_offset);
      result.SetError(Format("YAML parser error: %1. At line: %2 col: %3", problem, where.line, where.column));
      break;
    }
    if (!reader.Handle(*event.get())) break;
    if (event.get()->type == YAML_STREAM_END_EVENT) break;
  }
  return result;
}

ValueResult ParseYaml(const std::string& text) { return ParseYaml(text.data(), text.size()); }

}  // namespace vaq
