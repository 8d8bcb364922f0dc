#include "vaq_host/endpoint_call.h"

#include <cstring>
#include <vector>

#include "vaq_host/host_value_json.h"

namespace vaq_host {

namespace {

const char* const kMethodNames[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
constexpr uint32_t kCustomMethod = 8;

std::vector<std::string> Segments(const std::string& path) {
  std::vector<std::string> segments;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    segments.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return segments;
}

bool MethodFits(const ApiEndpointRecord& record, uint32_t method, const std::string& name) {
  if (record.method == 0) return true;
  if (record.method != method) return false;
  return method != kCustomMethod || (record.customMethod != nullptr && name == record.customMethod);
}

// Typed arguments built from an object's members; freed with the list.
class NamedArguments {
 public:
  explicit NamedArguments(const rapidjson::Value* object) {
    if (object == nullptr || !object->IsObject()) return;
    for (auto member = object->MemberBegin(); member != object->MemberEnd(); ++member) {
      names_.emplace_back(member->name.GetString(), member->name.GetStringLength());
    }
    entries_.resize(names_.size());
    size_t i = 0;
    for (auto member = object->MemberBegin(); member != object->MemberEnd(); ++member, ++i) {
      entries_[i].name = names_[i].c_str();
      BuildHostValue(member->value, &entries_[i].value);
    }
  }
  ~NamedArguments() {
    for (HostTypedArgument& entry : entries_) FreeBuiltHostValue(&entry.value);
  }
  NamedArguments(const NamedArguments&) = delete;
  NamedArguments& operator=(const NamedArguments&) = delete;

  HostTypedArgument* data() { return entries_.empty() ? nullptr : entries_.data(); }
  uint32_t count() const { return static_cast<uint32_t>(entries_.size()); }

 private:
  std::vector<std::string> names_;
  std::vector<HostTypedArgument> entries_;
};

}  // namespace

uint32_t MethodCode(const std::string& method) {
  for (uint32_t code = 1; code < kCustomMethod; ++code) {
    if (method == kMethodNames[code]) return code;
  }
  return kCustomMethod;
}

const char* MethodName(uint32_t code) { return code < kCustomMethod ? kMethodNames[code] : ""; }

bool TemplateFits(const char* pathTemplate, const std::string& path) {
  if (pathTemplate == nullptr) return false;
  const std::string bare = path.substr(0, path.find('?'));
  const std::vector<std::string> want = Segments(pathTemplate);
  const std::vector<std::string> have = Segments(bare);
  for (size_t i = 0; i < want.size(); ++i) {
    const std::string& segment = want[i];
    if (segment.rfind("{+", 0) == 0) return true;  // the rest of the path, whatever it is
    if (i >= have.size()) return false;
    const bool placeholder = !segment.empty() && segment.front() == '{' && segment.back() == '}';
    if (!placeholder && segment != have[i]) return false;
  }
  return want.size() == have.size();
}

EndpointAnswer CallEndpoint(const ApiDescription* description, const std::string& method, const std::string& path,
                            const rapidjson::Value* namedArguments, RecordingHost* books) {
  const uint32_t code = MethodCode(method);
  std::vector<const ApiEndpointRecord*> fitting;
  std::vector<const ApiEndpointRecord*> others;
  if (description != nullptr) {
    uint32_t seen = 0;
    for (const ApiEndpointRecord* record = description->endpoints;
         record != nullptr && seen < description->endpointCount; record = record->next, ++seen) {
      if (record->requestEntry == nullptr) continue;
      const bool fits = MethodFits(*record, code, method) && TemplateFits(record->pathTemplate, path);
      (fits ? fitting : others).push_back(record);
    }
  }
  fitting.insert(fitting.end(), others.begin(), others.end());

  EndpointAnswer answer;
  answer.response.SetObject();
  auto& allocator = answer.response.GetAllocator();
  answer.response.AddMember("status", 404, allocator);
  answer.response.AddMember("error", "no endpoint", allocator);

  NamedArguments arguments(namedArguments);
  for (const ApiEndpointRecord* record : fitting) {
    HostRequest request{};
    request.method = code;
    request.path = path.c_str();
    request.typedArguments = arguments.data();
    request.typedArgumentCount = arguments.count();
    request.endpointUserData = record->userData;
    request.customMethod = code == kCustomMethod ? method.c_str() : nullptr;
    HostResponse response{};
    record->requestEntry(&response, &request);
    if (books != nullptr) books->CountReceivedResponse();

    answer.response.SetObject();
    answer.response.AddMember("status", response.status, allocator);
    const bool invalid = response.failed && response.error != nullptr && std::strcmp(response.error, "Invalid function") == 0;
    if (response.failed) {
      answer.response.AddMember("error", rapidjson::Value(response.error == nullptr ? "" : response.error, allocator),
                                allocator);
    } else {
      rapidjson::Value body;
      ReadHostValue(response.body, &body, allocator);
      answer.response.AddMember("body", body, allocator);
    }
    if (response.release != nullptr) {
      response.release(&response);
      if (books != nullptr) books->CountHostRelease();
    }
    if (!invalid) {
      answer.function = record->name == nullptr ? "" : record->name;
      break;
    }
  }
  return answer;
}

}  // namespace vaq_host
