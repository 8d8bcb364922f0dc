#include "remoting/argument_binding.h"

#include <cerrno>
#include <cstdlib>

#include "diagnostics/message_format.h"
#include "readers/json_reader.h"
#include "readers/message_pack_reader.h"
#include "readers/yaml_reader.h"
#include "remoting/host_value.h"
#include "value/type_kind.h"

namespace vaq {

namespace {

std::string_view SkipSpaces(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start);
}

bool StartsWithIgnoringCase(const char* text, std::string_view prefix) {
  for (size_t i = 0; i < prefix.size(); ++i) {
    const char c = text[i];
    if (c == '\0') return false;
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != prefix[i]) return false;
  }
  return true;
}

bool IsStructured(uint32_t kind) { return kind == kTypeObject || kind == kTypeVector || kind == kTypeStruct; }

}  // namespace

bool DecodeArgumentText(Value& slot, std::string_view functionName, std::string_view parameterName,
                        std::string_view text, bool sniff, std::string* error) {
  if (sniff && !text.empty()) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (LooksLikeMessagePack(bytes, text.size())) {
      size_t consumed = 0;
      ValueResult decoded = DecodeWholeMessagePack(bytes, text.size(), &consumed);
      if (!decoded.ok()) {
        *error = Format("Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3", parameterName,
                        functionName, decoded.Message());
        return false;
      }
      slot.MoveFrom(decoded.value());
      return true;
    }
    const std::string_view trimmed = SkipSpaces(text);
    if (!trimmed.empty() && (trimmed[0] == '{' || trimmed[0] == '[')) {
      ValueResult parsed = ParseJson(std::string(text));
      if (!parsed.ok()) {
        *error = Format("Couldn't deserialize JSON value for parameter '%1' of '%2': %3", parameterName, functionName,
                        parsed.Message());
        return false;
      }
      slot.MoveFrom(parsed.value());
      return true;
    }
    if (trimmed.substr(0, 3) == "---") {
      ValueResult parsed = ParseYaml(text.data(), text.size());
      if (!parsed.ok()) {
        *error = Format("Couldn't deserialize YAML value for parameter '%1' of '%2': %3", parameterName, functionName,
                        parsed.Message());
        return false;
      }
      slot.MoveFrom(parsed.value());
      return true;
    }
  }
  slot.SetString(text);
  return true;
}

ArgumentBinder::ArgumentBinder(const Endpoint& endpoint, CallContext& context)
    : endpoint_(endpoint), context_(context) {
  const std::vector<ArgumentRecord>& parameters = endpoint_.function->arguments;
  slots_.resize(parameters.size());
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (parameters[i].type.kind == kTypeBool && !parameters[i].optional) slots_[i].SetBool(false);
  }
}

const std::string& ArgumentBinder::functionName() const { return endpoint_.function->name; }

ptrdiff_t ArgumentBinder::FindParameter(std::string_view name) const {
  const std::vector<ArgumentRecord>& parameters = endpoint_.function->arguments;
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (parameters[i].name == name) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

uint32_t ArgumentBinder::LocationOf(size_t index) const {
  return index < endpoint_.argumentLocations.size() ? endpoint_.argumentLocations[index] : kArgumentAnywhere;
}

bool ArgumentBinder::Fail(std::string message) {
  context_.SetError(message);
  return false;
}

bool ArgumentBinder::SetWholeSlot(size_t index, std::string_view text) {
  const ArgumentRecord& parameter = endpoint_.function->arguments[index];
  Value& slot = slots_[index];
  const uint32_t kind = parameter.type.kind;
  if (text.empty()) {
    switch (kind) {
      case kTypeBool:
        slot.SetBool(true);
        return true;
      case kTypeObject:
      case kTypeStruct:
        slot.Reset();
        slot.MakeStructure();
        return true;
      case kTypeVector:
        slot.Reset();
        slot.MakeCollection();
        return true;
      default:
        return Fail(Format("Expected value for argument '%1'.", parameter.name));
    }
  }
  std::string error;
  if (!DecodeArgumentText(slot, functionName(), parameter.name, text, IsStructured(kind), &error)) {
    return Fail(std::move(error));
  }
  return true;
}

bool ArgumentBinder::BindText(std::string_view name, std::string_view text, uint32_t location) {
  const size_t dot = name.find('.');
  const std::string_view base = name.substr(0, dot);
  const ptrdiff_t index = FindParameter(base);
  if (index < 0) return Fail(Format("Unknown argument '%1' for '%2'.", base, functionName()));
  const uint32_t allowed = LocationOf(static_cast<size_t>(index));
  if (allowed != kArgumentAnywhere && allowed != location) {
    return Fail(Format("Argument '%1' for '%2' was specified in an invalid location.", base, functionName()));
  }
  if (dot == std::string_view::npos) return SetWholeSlot(static_cast<size_t>(index), text);

  Value* current = &slots_[static_cast<size_t>(index)];
  std::string_view rest = name.substr(dot + 1);
  for (;;) {
    const size_t next = rest.find('.');
    const std::string_view segment = rest.substr(0, next);
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      const std::string digits(segment);
      char* end = nullptr;
      errno = 0;
      const unsigned long long number = std::strtoull(digits.c_str(), &end, 0);
      if (end != digits.c_str() + digits.size()) return Fail(Format("Index %1 is in an incorrect format", segment));
      if (errno == ERANGE || number > kMaxArgumentIndex) return Fail(Format("Index %1 is out of range", segment));
      current = &current->At(static_cast<size_t>(number));
    } else {
      if (current->Kind() != ValueKind::kStructure) {
        current->Reset();
        current->MakeStructure();
      }
      current = &current->Member(segment);
    }
    if (next == std::string_view::npos) break;
    rest = rest.substr(next + 1);
  }
  current->SetString(text);
  return true;
}

bool ArgumentBinder::BindTyped(const HostTypedArgument& argument, size_t positionalIndex) {
  ptrdiff_t index;
  std::string shownName;
  if (argument.name != nullptr) {
    shownName = argument.name;
    index = FindParameter(shownName);
  } else {
    shownName = std::to_string(positionalIndex);
    index = positionalIndex < slots_.size() ? static_cast<ptrdiff_t>(positionalIndex) : -1;
  }
  if (index < 0) return Fail(Format("Unknown argument '%1' for '%2'.", shownName, functionName()));
  const std::string& parameterName = endpoint_.function->arguments[static_cast<size_t>(index)].name;
  std::string error;
  if (!HostValueToValue(argument.value, slots_[static_cast<size_t>(index)], parameterName, &error)) {
    return Fail(std::move(error));
  }
  return true;
}

void ArgumentBinder::BindBody(const HostRequest& request) {
  if (request.body == nullptr) return;
  ptrdiff_t index = -1;
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (LocationOf(i) == kArgumentInBody) {
      index = static_cast<ptrdiff_t>(i);
      break;
    }
  }
  if (index < 0) return;
  const char* contentType = request.contentType == nullptr ? "" : request.contentType;
  ValueResult decoded;
  if (StartsWithIgnoringCase(contentType, "application/x-msgpack")) {
    size_t consumed = 0;
    decoded = DecodeWholeMessagePack(request.body, request.bodyLength, &consumed);
    if (decoded.ok() && consumed != request.bodyLength) {
      Fail("Extra MessgePack data found in body");
      return;
    }
  } else if (StartsWithIgnoringCase(contentType, "application/json") ||
             StartsWithIgnoringCase(contentType, "application/vnd.api+json")) {
    // The body is read as text up to its first NUL, and never past its
    // length.
    decoded = ParseJson(std::string(reinterpret_cast<const char*>(request.body), request.bodyLength));
  } else if (StartsWithIgnoringCase(contentType, "application/x-yaml")) {
    const std::string text(reinterpret_cast<const char*>(request.body), request.bodyLength);
    decoded = ParseYaml(text.c_str(), std::char_traits<char>::length(text.c_str()));
  } else {
    Fail("Unsupported body content type");
    return;
  }
  if (!decoded.ok()) {
    Fail(std::string(decoded.Message()));
    return;
  }
  slots_[static_cast<size_t>(index)].MoveFrom(decoded.value());
}

}  // namespace vaq
