#include "vaq_host/host_value_json.h"

#include <cstring>
#include <string_view>

#include "rapidjson/stringbuffer.h"
#include "rapidjson/writer.h"

namespace vaq_host {

namespace {

constexpr int kMaxReadDepth = 256;

char* CopyText(const char* text, size_t length) {
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

std::string Base64(const uint8_t* data, size_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < length; i += 3) {
    const uint32_t group = (uint32_t{data[i]} << 16) | (i + 1 < length ? uint32_t{data[i + 1]} << 8 : 0) |
                           (i + 2 < length ? uint32_t{data[i + 2]} : 0);
    text += kAlphabet[(group >> 18) & 63];
    text += kAlphabet[(group >> 12) & 63];
    text += i + 1 < length ? kAlphabet[(group >> 6) & 63] : '=';
    text += i + 2 < length ? kAlphabet[group & 63] : '=';
  }
  return text;
}

void Read(const HostValue& value, rapidjson::Value* out, rapidjson::Document::AllocatorType& allocator, int depth) {
  if (depth > kMaxReadDepth) {
    out->SetObject();
    out->AddMember("$tooDeep", true, allocator);
    return;
  }
  switch (value.type) {
    case kHostNull:
      out->SetNull();
      break;
    case kHostBool:
      out->SetBool(value.payload.boolean != 0);
      break;
    case kHostSigned:
      out->SetInt64(value.payload.signedValue);
      break;
    case kHostUnsigned:
      out->SetUint64(value.payload.unsignedValue);
      break;
    case kHostFloat:
      out->SetDouble(value.payload.floatValue);
      break;
    case kHostBorrowedString:
    case kHostOwnedString: {
      const char* text = value.payload.string.text;
      // The text ends at its terminating zero, whatever the length says.
      const size_t length = text == nullptr ? 0 : std::strlen(text);
      out->SetString(text == nullptr ? "" : text, static_cast<rapidjson::SizeType>(length), allocator);
      break;
    }
    case kHostBorrowedBlob:
    case kHostOwnedBlob: {
      const std::string encoded =
          value.payload.blob.data == nullptr ? std::string() : Base64(value.payload.blob.data, value.payload.blob.length);
      out->SetObject();
      out->AddMember("$blob", rapidjson::Value(encoded.c_str(), allocator), allocator);
      break;
    }
    case kHostCollection:
      out->SetArray();
      for (uint32_t i = 0; value.payload.collection.elements != nullptr && i < value.payload.collection.count; ++i) {
        rapidjson::Value element;
        Read(value.payload.collection.elements[i], &element, allocator, depth + 1);
        out->PushBack(element, allocator);
      }
      break;
    case kHostStructure:
      out->SetObject();
      for (uint32_t i = 0; value.payload.structure.members != nullptr && i < value.payload.structure.count; ++i) {
        const HostMember& member = value.payload.structure.members[i];
        const char* name = member.name == nullptr ? "" : member.name;
        rapidjson::Value element;
        Read(member.value, &element, allocator, depth + 1);
        auto existing = out->FindMember(name);
        if (existing != out->MemberEnd()) {
          existing->value = element;
        } else {
          out->AddMember(rapidjson::Value(name, allocator), element, allocator);
        }
      }
      break;
    default:
      out->SetObject();
      out->AddMember("$hostType", value.type, allocator);
  }
}

}  // namespace

void BuildHostValue(const rapidjson::Value& json, HostValue* out) {
  *out = HostValue{};
  switch (json.GetType()) {
    case rapidjson::kNullType:
      out->type = kHostNull;
      break;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out->type = kHostBool;
      out->payload.boolean = json.GetBool() ? 1 : 0;
      break;
    case rapidjson::kNumberType:
      if (json.IsUint64()) {
        out->type = kHostUnsigned;
        out->payload.unsignedValue = json.GetUint64();
      } else if (json.IsInt64()) {
        out->type = kHostSigned;
        out->payload.signedValue = json.GetInt64();
      } else {
        out->type = kHostFloat;
        out->payload.floatValue = json.GetDouble();
      }
      break;
    case rapidjson::kStringType:
      out->type = kHostOwnedString;
      out->payload.string.text = CopyText(json.GetString(), json.GetStringLength());
      out->payload.string.length = json.GetStringLength();
      break;
    case rapidjson::kArrayType: {
      out->type = kHostCollection;
      const uint32_t count = json.Size();
      HostValue* elements = count == 0 ? nullptr : new HostValue[count];
      for (uint32_t i = 0; i < count; ++i) BuildHostValue(json[i], &elements[i]);
      out->payload.collection.elements = elements;
      out->payload.collection.count = count;
      break;
    }
    case rapidjson::kObjectType: {
      out->type = kHostStructure;
      const uint32_t count = json.MemberCount();
      HostMember* members = count == 0 ? nullptr : new HostMember[count];
      uint32_t i = 0;
      for (auto member = json.MemberBegin(); member != json.MemberEnd(); ++member, ++i) {
        members[i].name = CopyText(member->name.GetString(), member->name.GetStringLength());
        members[i].ownsName = 1;
        BuildHostValue(member->value, &members[i].value);
      }
      out->payload.structure.members = members;
      out->payload.structure.count = count;
      break;
    }
  }
}

void FreeBuiltHostValue(HostValue* value) {
  switch (value->type) {
    case kHostOwnedString:
      delete[] value->payload.string.text;
      break;
    case kHostCollection:
      for (uint32_t i = 0; i < value->payload.collection.count; ++i) {
        FreeBuiltHostValue(&value->payload.collection.elements[i]);
      }
      delete[] value->payload.collection.elements;
      break;
    case kHostStructure:
      for (uint32_t i = 0; i < value->payload.structure.count; ++i) {
        HostMember& member = value->payload.structure.members[i];
        if (member.ownsName) delete[] member.name;
        FreeBuiltHostValue(&member.value);
      }
      delete[] value->payload.structure.members;
      break;
    default:
      break;
  }
  *value = HostValue{};
}

void ReadHostValue(const HostValue& value, rapidjson::Value* out, rapidjson::Document::AllocatorType& allocator) {
  Read(value, out, allocator, 0);
}

std::string JsonText(const rapidjson::Value& json) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  json.Accept(writer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace vaq_host
