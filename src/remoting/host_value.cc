#include "remoting/host_value.h"

#include <cstring>
#include <new>

#include "diagnostics/message_format.h"
#include "platform/heap.h"
#include "readers/tree_builder.h"
#include "value/type_registry.h"

namespace vaq {

namespace {

bool Incompatible(const HostValue& host, std::string_view name, std::string* error) {
  *error = Format("Couldn't assign value to '%1' of type object because the input is of an incompatible type '%2'.",
                  name, HostValueKindName(host.type));
  return false;
}

// Hands `host` to the tree builder as events.
class HostValueEvents {
 public:
  HostValueEvents(Value* out, std::string_view name, std::string* error)
      : builder_(out, TreeSource::kHostValue), name_(name), error_(error) {}

  bool Read(const HostValue& host) {
    switch (host.type) {
      case kHostNull:
        return Built(builder_.Null());
      case kHostBool:
        return Built(builder_.Bool(host.payload.boolean != 0));
      case kHostSigned:
        return Built(builder_.Signed(host.payload.signedValue));
      case kHostUnsigned:
        return Built(builder_.Unsigned(host.payload.unsignedValue));
      case kHostFloat:
        return Built(builder_.Float(host.payload.floatValue));
      case kHostBorrowedString:
      case kHostOwnedString: {
        // The text is read up to its terminating zero.
        const char* text = host.payload.string.text;
        return Built(builder_.String(text == nullptr ? std::string_view() : std::string_view(text)));
      }
      case kHostBorrowedBlob:
      case kHostOwnedBlob: {
        const uint8_t* data = host.payload.blob.data;
        const uint32_t length = data == nullptr ? 0 : host.payload.blob.length;
        return Built(builder_.Blob(std::span<const uint8_t>(data, length)));
      }
      case kHostCollection: {
        const HostValue* elements = host.payload.collection.elements;
        const uint32_t count = host.payload.collection.count;
        if (elements == nullptr && count != 0) return Incompatible(host, name_, error_);
        if (!Built(builder_.StartCollection())) return false;
        builder_.ExpectItems(count);
        for (uint32_t i = 0; i < count; ++i) {
          if (!Read(elements[i])) return false;
        }
        builder_.EndCollection();
        return true;
      }
      case kHostStructure: {
        const HostMember* members = host.payload.structure.members;
        const uint32_t count = host.payload.structure.count;
        if (members == nullptr && count != 0) return Incompatible(host, name_, error_);
        if (!Built(builder_.StartStructure())) return false;
        builder_.ExpectItems(count);
        for (uint32_t i = 0; i < count; ++i) {
          const char* memberName = members[i].name == nullptr ? "" : members[i].name;
          if (!Built(builder_.Key(memberName)) || !Read(members[i].value)) return false;
        }
        builder_.EndStructure();
        return true;
      }
      default:
        return Incompatible(host, name_, error_);
    }
  }

 private:
  bool Built(bool accepted) {
    if (!accepted) {
      SourcePosition where;
      where.name = name_;
      *error_ = builder_.LimitMessage(where);
    }
    return accepted;
  }

  TreeBuilder builder_;
  std::string_view name_;
  std::string* error_;
};

bool Convert(const HostValue& host, Value& out, std::string_view name, std::string* error) {
  out.Reset();
  return HostValueEvents(&out, name, error).Read(host);
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
  return Convert(host, out, name, error);
}

void HostValueToValue(ValueResult& result, const HostValue& host, std::string_view name) {
  if (!result.ok()) return;
  std::string error;
  if (!Convert(host, result.value(), name, &error)) result.SetError(error);
}

void ClearHostValue(HostValue* host) {
  // Byte by byte: `HostValue{}` need not clear more of the payload than its
  // first member, and a failure path reads the pointer members.
  std::memset(static_cast<void*>(host), 0, sizeof(HostValue));
}

void ValueToHostValue(const Value& value, HostValue* host, const TypeRegistry* registry) {
  ClearHostValue(host);
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
      // Each element is counted before it is converted, so that a failure
      // halfway through it frees what it already holds.
      for (const Value& element : elements) {
        HostValue& target = array[host->payload.collection.count];
        ClearHostValue(&target);
        ++host->payload.collection.count;
        ValueToHostValue(element, &target, registry);
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
        ClearHostValue(&target.value);
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
  ClearHostValue(host);
}

}  // namespace vaq
