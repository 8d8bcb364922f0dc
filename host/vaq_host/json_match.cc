#include "vaq_host/json_match.h"

#include "vaq_host/host_value_json.h"

namespace vaq_host {

namespace {

bool NumbersEqual(const rapidjson::Value& a, const rapidjson::Value& b) {
  if (a.IsInt64() && b.IsInt64()) return a.GetInt64() == b.GetInt64();
  if (a.IsUint64() && b.IsUint64()) return a.GetUint64() == b.GetUint64();
  if ((a.IsInt64() || a.IsUint64()) && (b.IsInt64() || b.IsUint64())) return false;  // opposite signs
  return a.GetDouble() == b.GetDouble();
}

const char* TypeName(const rapidjson::Value& value) {
  switch (value.GetType()) {
    case rapidjson::kNullType: return "null";
    case rapidjson::kFalseType:
    case rapidjson::kTrueType: return "a boolean";
    case rapidjson::kObjectType: return "an object";
    case rapidjson::kArrayType: return "an array";
    case rapidjson::kStringType: return "a string";
    case rapidjson::kNumberType: return "a number";
  }
  return "?";
}

class Matcher {
 public:
  Matcher(std::vector<std::string>* differences, const JsonShow& show) : differences_(differences), show_(show) {}

  // Records every difference under `where`; returns whether there was none.
  bool Match(const rapidjson::Value& expected, const rapidjson::Value& actual, const std::string& where) {
    if (expected.IsObject()) {
      if (!actual.IsObject()) return Differ(where, expected, actual);
      bool same = true;
      for (auto member = expected.MemberBegin(); member != expected.MemberEnd(); ++member) {
        const std::string name(member->name.GetString(), member->name.GetStringLength());
        const std::string inner = where.empty() ? name : where + "." + name;
        auto found = actual.FindMember(member->name);
        if (found == actual.MemberEnd()) {
          same = Fail(inner + ": expected " + Show(member->value) + ", got no such member");
        } else if (!Match(member->value, found->value, inner)) {
          same = false;
        }
      }
      return same;
    }
    if (expected.IsArray()) {
      if (!actual.IsArray()) return Differ(where, expected, actual);
      bool same = true;
      if (expected.Size() != actual.Size()) {
        same = Fail(Place(where) + "expected " + std::to_string(expected.Size()) + " entries, got " +
                    std::to_string(actual.Size()));
      }
      const rapidjson::SizeType shared = expected.Size() < actual.Size() ? expected.Size() : actual.Size();
      for (rapidjson::SizeType i = 0; i < shared; ++i) {
        if (!Match(expected[i], actual[i], where + "[" + std::to_string(i) + "]")) same = false;
      }
      for (rapidjson::SizeType i = shared; i < expected.Size(); ++i) {
        Fail(where + "[" + std::to_string(i) + "]: missing: " + Show(expected[i]));
      }
      for (rapidjson::SizeType i = shared; i < actual.Size(); ++i) {
        Fail(where + "[" + std::to_string(i) + "]: not expected: " + Show(actual[i]));
      }
      return same;
    }
    if (expected.IsNumber() && actual.IsNumber()) {
      return NumbersEqual(expected, actual) || Differ(where, expected, actual);
    }
    if (expected.IsBool() && actual.IsBool()) {
      return expected.GetBool() == actual.GetBool() || Differ(where, expected, actual);
    }
    return expected == actual || Differ(where, expected, actual);
  }

 private:
  static std::string Place(const std::string& where) { return where.empty() ? "" : where + ": "; }

  std::string Show(const rapidjson::Value& value) const { return show_ ? show_(value) : JsonText(value); }

  bool Differ(const std::string& where, const rapidjson::Value& expected, const rapidjson::Value& actual) {
    std::string text = Place(where) + "expected " + Show(expected) + ", got " + Show(actual);
    if (expected.GetType() != actual.GetType() && !(expected.IsBool() && actual.IsBool())) {
      text += std::string(" (") + TypeName(actual) + ")";
    }
    return Fail(text);
  }

  bool Fail(const std::string& text) {
    if (differences_ != nullptr) differences_->push_back(text);
    return false;
  }

  std::vector<std::string>* differences_;
  const JsonShow& show_;
};

}  // namespace

bool JsonMatches(const rapidjson::Value& expected, const rapidjson::Value& actual,
                 std::vector<std::string>* differences, const JsonShow& show) {
  return Matcher(differences, show).Match(expected, actual, "");
}

}  // namespace vaq_host
