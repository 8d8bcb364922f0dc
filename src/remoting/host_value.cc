#include "remoting/host_value.h"

#include <cstring>
#include <new>

#include "diagnostics/message_format.h"
#include "platform/heap.h"
#include "value/type_registry.h"

namespace vaq {

namespace {

bool Incompatible(const HostValue& host, std::string_view name, std::string* error) {
  *error = Format("Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.",
                  name, HostValueKindName(host.type));
  return false;
}

bool Convert(const HostValue& host, Value& out, std::string_view name, size_t depth, std::string* error) {
  switch (host.type) {
    case kHostNull:
      out.Reset();
      return true;
    case kHostBool:
      out.SetBool(host.payload.boolean != 0);
      return true;
    case kHostSigned:
      out.SetSigned(host.payload.signedValue);
      return true;
    case kHostUnsigned:
      out.SetUnsigned(host.payload.unsignedValue);
      return true;
    case kHostFloat:
      out.SetFloat(host.payload.floatValue);
      return true;
    case kHostBorrowedString:
    case kHostOwnedString:
      // The text is read up to its terminating zero.
      out.SetString(host.payload.string.text);
      return true;
    case kHostBorrowedBlob:
    case kHostOwnedBlob: {
      const uint8_t* data = host.payload.blob.data;
      const uint32_t length = data == nullptr ? 0 : host.payload.blob.length;
      out.SetBlob(std::span<const uint8_t>(data, length));
      return true;
    }
    case kHostCollection: {
      const HostValue* elements = host.payload.collection.elements;
      const uint32_t count = host.payload.collection.count;
      if (elements == nullptr && count != 0) return Incompatible(host, name, error);
      if (depth >= kMaxValueDepth) {
        *error = Format("Couldn't assign value to '%1' because the input nests deeper than %2 levels.", name,
                        kMaxValueDepth);
        return false;
      }
      out.Reset();
      out.MakeCollection();
      out.Reserve(count);
      for (uint32_t i = 0; i < count; ++i) {
        if (!Convert(elements[i], out.Append(), name, depth + 1, error)) return false;
      }
      return true;
    }
    case kHostStructure: {
      const HostMember* members = host.payload.structure.members;
      const uint32_t count = host.payload.structure.count;
      if (members == nullptr && count != 0) return Incompatible(host, name, error);
      if (depth >= kMaxValueDepth) {
        *error = Format("Couldn't assign value to '%1' because the input nests deeper than %2 levels.", name,
                        kMaxValueDepth);
        return false;
      }
      out.Reset();
      out.MakeStructure();
      for (uint32_t i = 0; i < count; ++i) {
        const char* memberName = members[i].name == nullptr ? "" : members[i].name;
        if (!Convert(members[i].value, out.Member(memberName), name, depth + 1, error)) return false;
      }
      return true;
    }
    default:
      return Incompatible(host, name, error);
  }
}

}  // namespace

const char* HostValueKindName(uint32_t type) {
  switch (type) {
    case kHostBool:
      return "bool";
    case kHostSigned:
      return "signed";
    case kHostUnsigned:
      return "unsigned";
    case kHostFloat:
      return "float";
    case kHostBorrowedString:
    case kHostOwnedString:
      return "string";
    case kHostBorrowedBlob:
    case kHostOwnedBlob:
      return "blob";
    case kHostCollection:
      return "collection";
    case kHostStructure:
      return "structure";
    default:
      return "";
  }
}

bool HostValueToValue(const HostValue& host, Value& out, std::string_view name, std::string* error) {
  return Convert(host, out, name, 0, error);
}

void HostValueToValue(ValueResult& result, const HostValue& host, std::string_view name) {
  if (!result.ok()) return;
  std::string error;
  if (!Convert(host, result.value(), name, 0, &error)) result.SetError(error);
}

void ValueToHostValue(const Value& value, HostValue* host, const TypeRegistry* registry) {
  *host = HostValue{};
  switch (value.Kind()) {
    case ValueKind::kEmpty:
      host->type = kHostNull;
      break;
    case ValueKind::kBool:
      host->type = kHostBool;
      host->payload.boolean = value.GetBool() ? 1 : 0;
      break;
    case ValueKind::kSigned:
      host->type = kHostSigned;
      host->payload.signedValue = value.GetSigned();
      break;
    case ValueKind::kUnsigned:
      host->type = kHostUnsigned;
      host->payload.unsignedValue = value.GetUnsigned();
      break;
    case ValueKind::kFloat:
      host->type = kHostFloat;
      host->payload.floatValue = value.GetFloat();
      break;
    case ValueKind::kString: {
      const std::string_view text = value.GetString();
      host->type = kHostOwnedString;
      host->payload.string.text = CopyToHost(text);
      host->payload.string.length = static_cast<uint32_t>(text.size());
      break;
    }
    case ValueKind::kBlob: {
      const std::vector<uint8_t>& bytes = value.GetBlob();
      auto* copy = static_cast<uint8_t*>(Heap::Allocate(bytes.empty() ? 1 : bytes.size()));
      if (copy == nullptr) throw std::bad_alloc();
      if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
      host->type = kHostOwnedBlob;
      host->payload.blob.data = copy;
      host->payload.blob.length = static_cast<uint32_t>(bytes.size());
      break;
    }
    case ValueKind::kEnum: {
      const EnumValue& enumValue = value.GetEnum();
      const TypeDescriptor* descriptor =
          registry == nullptr || enumValue.type == nullptr ? nullptr : registry->FindByHash(enumValue.type->hash);
      const std::string* enumerator = descriptor == nullptr ? nullptr : descriptor->EnumeratorName(enumValue.number);
      if (enumerator != nullptr) {
        host->type = kHostOwnedString;
        host->payload.string.text = CopyToHost(*enumerator);
        host->payload.string.length = static_cast<uint32_t>(enumerator->size());
      } else {
        host->type = kHostSigned;
        host->payload.signedValue = enumValue.number;
      }
      break;
    }
    case ValueKind::kCollection: {
      std::span<const Value> elements = value.Elements();
      auto* array = static_cast<HostValue*>(Heap::Allocate(elements.empty() ? 1 : elements.size() * sizeof(HostValue)));
      if (array == nullptr) throw std::bad_alloc();
      host->type = kHostCollection;
      host->payload.collection.elements = array;
      host->payload.collection.count = 0;
      for (const Value& element : elements) {
        ValueToHostValue(element, &array[host->payload.collection.count], registry);
        ++host->payload.collection.count;
      }
      break;
    }
    case ValueKind::kStructure: {
      MemberRange members = value.Members();
      auto* array =
          static_cast<HostMember*>(Heap::Allocate(members.empty() ? 1 : members.size() * sizeof(HostMember)));
      if (array == nullptr) throw std::bad_alloc();
      host->type = kHostStructure;
      host->payload.structure.members = array;
      host->payload.structure.count = 0;
      for (const ValueMember& member : members) {
        HostMember& target = array[host->payload.structure.count];
        target.name = CopyToHost(member.name->view());
        target.ownsName = 1;
        target.value = HostValue{};
        ++host->payload.structure.count;
        ValueToHostValue(member.value, &target.value, registry);
      }
      break;
    }
  }
}

char* CopyToHost(std::string_view text) {
  auto* copy = static_cast<char*>(Heap::Allocate(text.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void FreeHostValue(HostValue* host) {
  if (host == nullptr) return;
  switch (host->type) {
    case kHostOwnedString:
      Heap::Free(const_cast<char*>(host->payload.string.text));
      break;
    case kHostOwnedBlob:
      Heap::Free(const_cast<uint8_t*>(host->payload.blob.data));
      break;
    case kHostCollection:
      if (host->payload.collection.elements != nullptr) {
        for (uint32_t i = 0; i < host->payload.collection.count; ++i) {
          FreeHostValue(&host->payload.collection.elements[i]);
        }
        Heap::Free(host->payload.collection.elements);
      }
      break;
    case kHostStructure:
      if (host->payload.structure.members != nullptr) {
        for (uint32_t i = 0; i < host->payload.structure.count; ++i) {
          HostMember& member = host->payload.structure.members[i];
          if (member.ownsName != 0) Heap::Free(const_cast<char*>(member.name));
          FreeHostValue(&member.value);
        }
        Heap::Free(host->payload.structure.members);
      }
      break;
    default:
      break;
  }
  *host = HostValue{};
}

}  // namespace vaq
