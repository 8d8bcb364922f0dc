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

// Reads an integer text exactly (decimal, or hexadecimal after "0x"), so
// that 64-bit numbers do not pass through a double. False when the text is
// not an integer within 64 bits.
bool ReadExactInteger(const char* text, size_t length, Value* target) {
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
void StoreNumber(const char* text, size_t length, double number, Value* target) {
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
bool ResolvePlainDecimal(const char* text, size_t length, Value* target) {
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
bool ResolveNumber(const char* text, size_t length, Value* target) {
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

// One step from a container to the value inside it.
struct PathStep {
  size_t index;
  std::string name;
  bool byName;
};

// What an anchor refers to: the path of its node, or the text of an
// anchored mapping key. `open` while the anchored container is being read.
struct Anchor {
  std::vector<PathStep> path;
  std::string text;
  size_t textBytes = 0;  // of the names in `path`, or of `text`
  bool isText = false;
  bool open = false;
};

// One open sequence or mapping. `key` holds the mapping key read last;
// while a value chosen by it is open, no new key arrives here, so the key
// also names the step to that value. Levels are reused across containers,
// so key buffers keep their capacity.
struct Level {
  Value* container = nullptr;
  Anchor* anchor = nullptr;
  uint32_t count = 0;  // elements appended, or members selected
  bool isMapping = false;
  bool hasKey = false;
  std::string key;
};

// Turns the events of one stream into the tree of the result. A container
// stays put while it is open, since its parent gets no new items until it
// is closed; values that may move (anything closed) are found again by
// their path from the root.
class TreeReader {
 public:
  explicit TreeReader(ValueResult* result) : result_(result), root_(&result->value()) {}
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

  Value* SelectTarget(const yaml_event_t& event);
  std::vector<PathStep> TargetPath() const;
  const Value& Replay(const std::vector<PathStep>& path) const;
  // Adds an anchor; null (with the error set) when the name is taken.
  Anchor* AddAnchor(const yaml_event_t& event, const yaml_char_t* name);
  // Records the path of the value selected last in `anchor`; false (with
  // the error set) when the anchors would hold too much.
  bool RecordPath(const yaml_event_t& event, Anchor* anchor);
  // Count against the limits above; false (with the error set) beyond.
  bool ChargeAnchor(const yaml_event_t& event, size_t bytes);
  bool ChargeAliasText(const yaml_event_t& event, size_t bytes);

  bool Scalar(const yaml_event_t& event);
  bool Resolve(const yaml_event_t& event, Value* target);
  bool Open(const yaml_event_t& event, bool isMapping);
  void Close();
  bool Alias(const yaml_event_t& event);
  // An alias where a mapping key belongs.
  bool AliasKey(const yaml_event_t& event, const Anchor& anchor);

  ValueResult* result_;
  Value* root_;
  std::vector<Level> levels_;
  size_t depth_ = 0;
  std::unordered_map<std::string, Anchor> anchors_;
  size_t aliasValues_ = 0;
  size_t anchorBytes_ = 0;
  size_t aliasTextBytes_ = 0;
};

bool TreeReader::Handle(const yaml_event_t& event) {
  switch (event.type) {
    case YAML_DOCUMENT_START_EVENT:
      if (!root_->IsEmpty()) return Fail("Multi-document YAML is not supported.");
      anchors_.clear();  // anchors belong to their document
      return true;
    case YAML_SCALAR_EVENT:
      return Scalar(event);
    case YAML_SEQUENCE_START_EVENT:
      return Open(event, false);
    case YAML_MAPPING_START_EVENT:
      return Open(event, true);
    case YAML_SEQUENCE_END_EVENT:
    case YAML_MAPPING_END_EVENT:
      Close();
      return true;
    case YAML_ALIAS_EVENT:
      return Alias(event);
    default:  // stream start and end, document end
      return true;
  }
}

Value* TreeReader::SelectTarget(const yaml_event_t& event) {
  if (depth_ == 0) return root_;
  Level& level = levels_[depth_ - 1];
  if (level.count++ >= Value::kMaxElements) {
    FailAt(event,
           level.isMapping ? "YAML mappings hold at most %1 members. At line: %2 col: %3"
                           : "YAML sequences hold at most %1 elements. At line: %2 col: %3",
           Value::kMaxElements);
    return nullptr;
  }
  if (!level.isMapping) return &level.container->Append();
  level.hasKey = false;
  return &level.container->Member(level.key);
}

std::vector<PathStep> TreeReader::TargetPath() const {
  std::vector<PathStep> path;
  path.reserve(depth_);
  for (size_t i = 0; i < depth_; ++i) {
    const Level& level = levels_[i];
    if (level.isMapping) {
      path.push_back(PathStep{0, level.key, true});
    } else {
      path.push_back(PathStep{level.container->Size() - 1, std::string(), false});
    }
  }
  return path;
}

const Value& TreeReader::Replay(const std::vector<PathStep>& path) const {
  const Value* value = root_;
  for (const PathStep& step : path) value = step.byName ? &value->FindMember(step.name) : &value->Element(step.index);
  return *value;
}

Anchor* TreeReader::AddAnchor(const yaml_event_t& event, const yaml_char_t* name) {
  auto [entry, inserted] = anchors_.try_emplace(std::string(Text(name)));
  if (!inserted) {
    FailAt(event, "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3", entry->first);
    return nullptr;
  }
  return &entry->second;
}

bool TreeReader::RecordPath(const yaml_event_t& event, Anchor* anchor) {
  size_t names = 0;
  for (size_t i = 0; i < depth_; ++i) {
    if (levels_[i].isMapping) names += levels_[i].key.size();
  }
  if (!ChargeAnchor(event, depth_ * sizeof(PathStep) + names)) return false;
  anchor->path = TargetPath();
  anchor->textBytes = names;
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
  Value* target = SelectTarget(event);
  if (target == nullptr) return false;
  if (scalar.anchor != nullptr) {
    Anchor* anchor = AddAnchor(event, scalar.anchor);
    if (anchor == nullptr || !RecordPath(event, anchor)) return false;
  }
  return Resolve(event, target);
}

bool TreeReader::Resolve(const yaml_event_t& event, Value* target) {
  const auto& scalar = event.data.scalar;
  const char* text = reinterpret_cast<const char*>(scalar.value);
  const std::string_view view(text, scalar.length);
  if (scalar.tag == nullptr) {
    const bool quoted =
        scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE || scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    if (quoted) {
      target->SetString(view);
    } else if (IsNullWord(view)) {
      if (!target->IsEmpty()) target->Reset();
    } else if (ResolveNumber(text, scalar.length, target)) {
      // done
    } else if (int word = BoolWord(view); word >= 0) {
      target->SetBool(word == 1);
    } else {
      target->SetString(view);
    }
    return true;
  }

  const std::string_view tag = Text(scalar.tag);
  if (tag == kStringTag) {
    target->SetString(view);
    return true;
  }
  if (tag == kIntTag) {
    size_t first = 0;
    while (first < view.size() && std::isspace(static_cast<unsigned char>(view[first]))) ++first;
    if (first < view.size() && view[first] == '-') {
      int64_t number = 0;
      TextNumberError error = ReadSignedText(view, INT64_MIN, INT64_MAX, &number);
      if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "int64_t"));
      target->SetSigned(number);
    } else {
      uint64_t number = 0;
      TextNumberError error = ReadUnsignedText(view, UINT64_MAX, &number);
      if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "uint64_t"));
      target->SetUnsigned(number);
    }
    return true;
  }
  if (tag == kFloatTag) {
    double number = 0;
    TextNumberError error = ReadDoubleText(view, DBL_MAX, &number);
    if (error != TextNumberError::kNone) return Fail(TextNumberMessage(error, view, kSourceName, "double"));
    target->SetFloat(number);
    return true;
  }
  if (tag == kBoolTag) {
    int word = BoolWord(view);
    if (word >= 0) {
      target->SetBool(word == 1);
    } else if (!target->IsEmpty()) {
      target->Reset();  // not a bool word: left empty
    }
    return true;
  }
  return Fail(Format("Unsupported YAML tag '%1'.", tag));
}

bool TreeReader::Open(const yaml_event_t& event, bool isMapping) {
  if (AwaitsKey()) {
    return FailAt(event, isMapping ? "Unexpected start of mapping. At line: %1 col: %2"
                                   : "Unexpected start of sequence. At line: %1 col: %2");
  }
  if (depth_ >= kMaxValueDepth)
    return FailAt(event, "YAML nesting deeper than %1 levels. At line: %2 col: %3", kMaxValueDepth);
  Value* target = SelectTarget(event);
  if (target == nullptr) return false;
  const yaml_char_t* anchorName = isMapping ? event.data.mapping_start.anchor : event.data.sequence_start.anchor;
  Anchor* anchor = nullptr;
  if (anchorName != nullptr) {
    anchor = AddAnchor(event, anchorName);
    if (anchor == nullptr || !RecordPath(event, anchor)) return false;
    anchor->open = true;
  }
  // A repeated key replaces the earlier value, never extends it.
  if (!target->IsEmpty()) target->Reset();
  if (isMapping) {
    target->MakeStructure();
  } else {
    target->MakeCollection();
  }
  if (depth_ == levels_.size()) levels_.emplace_back();
  Level& level = levels_[depth_++];
  level.container = target;
  level.anchor = anchor;
  level.isMapping = isMapping;
  level.hasKey = false;
  level.count = 0;
  return true;
}

void TreeReader::Close() {
  if (depth_ == 0) return;
  Level& level = levels_[--depth_];
  if (level.anchor != nullptr) level.anchor->open = false;
  level.anchor = nullptr;
  level.container = nullptr;
}

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

  Value* target = SelectTarget(event);
  if (target == nullptr) return false;
  if (anchor.isText) {
    if (!ChargeAliasText(event, anchor.textBytes)) return false;
    target->SetString(anchor.text);
    return true;
  }
  const Value& source = Replay(anchor.path);
  size_t count = 0;
  size_t depth = 0;
  size_t text = anchor.textBytes;
  const size_t budget = kMaxYamlAliasValues - aliasValues_;
  Measure(source, 0, budget, &count, &depth, &text);
  if (count > budget) {
    return FailAt(event, "YAML alias expansion exceeds %1 values. At line: %2 col: %3", kMaxYamlAliasValues);
  }
  if (depth_ + depth > kMaxValueDepth) {
    return FailAt(event, "YAML nesting deeper than %1 levels. At line: %2 col: %3", kMaxValueDepth);
  }
  if (!ChargeAliasText(event, text)) return false;
  aliasValues_ += count;
  target->Assign(source);
  return true;
}

bool TreeReader::AliasKey(const yaml_event_t& event, const Anchor& anchor) {
  Level& level = levels_[depth_ - 1];
  if (anchor.isText) {
    if (!ChargeAliasText(event, anchor.textBytes)) return false;
    level.key = anchor.text;
  } else {
    const Value& source = Replay(anchor.path);
    if (source.Kind() != ValueKind::kString) {
      return FailAt(event, "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2");
    }
    if (!ChargeAliasText(event, anchor.textBytes + source.Size())) return false;
    level.key.assign(source.GetString());
  }
  level.hasKey = true;
  return true;
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
      result.SetError(Format("YAML parser error: %1. At line: %2 col: %3", problem, state->problem_mark.line,
                             state->problem_mark.column));
      break;
    }
    if (!reader.Handle(*event.get())) break;
    if (event.get()->type == YAML_STREAM_END_EVENT) break;
  }
  return result;
}

ValueResult ParseYaml(const std::string& text) { return ParseYaml(text.data(), text.size()); }

}  // namespace vaq
