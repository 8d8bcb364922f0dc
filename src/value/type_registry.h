// The registry of native type descriptors, functions and events of one
// plug-in.
//
// Native records and enumerations are described once, at start-up, by a
// TypeDescriptor: size, full name, identity (static_type.h), fields in
// registration order, enumerators. Conversion walks the fields; the API
// description handed to the host is built from snapshots of the registry.
// The registry also keeps the function records that endpoints invoke and
// the event records that the plug-in publishes.
//
// Ownership: the registry owns every descriptor and record it creates;
// their addresses stay valid until RemoveAll or the registry's destruction.
// Builders and lookups hand out plain pointers into it. Field descriptors
// keep their addresses too (a descriptor stores its fields in a deque).
//
// Threads: every lookup and insertion, and every builder call, takes the
// registry's one (recursive) mutex. Reading a descriptor that was found
// takes no lock: types are registered before any conversion runs and do not
// change afterwards.
//
// Registration is idempotent by name: registering a name a second time
// yields a builder with existed() set whose calls do nothing, except
// TypeBuilder::Enumerator, which sets the enumerator even then. A struct
// with enum or struct fields is registered after those types: a field's
// descriptor is looked up by identity hash when the field is added, and a
// field whose type is not registered yet keeps a null descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "platform/system.h"
#include "value/field_converter.h"
#include "value/native_type_traits.h"
#include "value/static_type.h"
#include "value/type_kind.h"

namespace vaq {

class TypeRegistry;

// Bits of FieldDescriptor::flags.
inline constexpr uint32_t kFieldOmitWhenEmpty = 1u << 0;  // native to value: leave an empty member out
inline constexpr uint32_t kFieldRequired = 1u << 1;       // value to native: a missing member fails

// One field of a registered struct. Owned by its TypeDescriptor.
struct FieldDescriptor {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of name
  std::string description;
  const TypeIdentity* identity = nullptr;  // of the field's native type
  uint32_t offset = 0;                     // inside the native record, in bytes
  TypeIdentifier type;                     // what conversion uses
  TypeIdentifier announcedType;            // kind 0 unless given; else announced to the host
  uint32_t flags = 0;                      // kFieldOmitWhenEmpty, kFieldRequired
  const FieldConverter* converter = nullptr;  // not owned
  const TypeDescriptor* owner = nullptr;
  bool optional = false;  // the native type is an optional wrapper

  // The identifier announced to the host: announcedType when its kind is
  // not 0, else type.
  const TypeIdentifier& AnnouncedType() const { return announcedType.kind != kTypeNone ? announcedType : type; }
};

// One enumerator of a registered enum (its name is the map key).
struct EnumeratorRecord {
  int32_t number = 0;
  std::string description;
};

// Hashes std::string and std::string_view alike, for lookups by view.
struct TextHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

// A registered struct or enum. Created and owned by a TypeRegistry, filled
// through a TypeBuilder; not copyable (fields point back at it).
struct TypeDescriptor {
  TypeDescriptor() = default;
  TypeDescriptor(const TypeDescriptor&) = delete;
  TypeDescriptor& operator=(const TypeDescriptor&) = delete;

  // The field named `name`, or null. With two fields of one name, the first.
  const FieldDescriptor* FindField(std::string_view name) const;
  // The enumerator named `name` (exact, case-sensitive), or null.
  const EnumeratorRecord* FindEnumerator(std::string_view name) const;
  // The name of the first enumerator, in name order, whose number is
  // `number`, or null.
  const std::string* EnumeratorName(int32_t number) const;

  uint32_t size = 0;    // native size; for an enum the width of its integer
  bool isEnum = false;  // 1 for an enum, 0 for a struct
  std::string name;     // full name, namespace prefix included
  uint32_t hash = 0;    // identity hash
  const TypeIdentity* identity = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::unordered_map<std::string, const FieldDescriptor*, TextHash, std::equal_to<>> fieldIndex;
  std::deque<FieldDescriptor> fields;  // registration order
  std::map<std::string, EnumeratorRecord, std::less<>> values;  // by name
  TypeRegistry* registry = nullptr;
};

// One argument of a registered function, in declaration order. The request
// layer keeps where each argument comes from (path, query, ...) itself.
struct ArgumentRecord {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of name
  std::string description;
  bool optional = false;
  TypeIdentifier type;
  TypeIdentifier announcedType;  // kind 0 unless given; else announced to the host

  const TypeIdentifier& AnnouncedType() const { return announcedType.kind != kTypeNone ? announcedType : type; }
};

// A registered function, invoked through the endpoints bound to it.
struct FunctionRecord {
  std::string name;
  std::vector<ArgumentRecord> arguments;  // declaration order
  TypeIdentifier returnType;              // kind 0 when there is none
  TypeIdentifier announcedReturnType;     // kind 0 unless given
  std::vector<std::string> tags;
  std::string nameSpace;
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;
  // For an asynchronous function, the descriptor of its result record
  // (whose name the API description announces); else null.
  const TypeDescriptor* asyncResult = nullptr;

  const TypeIdentifier& AnnouncedReturnType() const {
    return announcedReturnType.kind != kTypeNone ? announcedReturnType : returnType;
  }
};

// An event that the plug-in publishes.
struct EventRecord {
  std::string name;
  const TypeDescriptor* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

// Fills a type descriptor right after RegisterType. A small value that
// refers into its registry; valid as long as the descriptor is. Every call
// does nothing when existed() is set, except Enumerator.
class TypeBuilder {
 public:
  TypeBuilder(TypeRegistry* registry, TypeDescriptor* descriptor, bool existed)
      : registry_(registry), descriptor_(descriptor), existed_(existed) {}

  TypeRegistry* registry() const { return registry_; }
  const TypeDescriptor* descriptor() const { return descriptor_; }
  bool existed() const { return existed_; }

  // Appends the texts to the tags.
  TypeBuilder& Tags(const std::vector<std::string>& tags);
  TypeBuilder& Tags(std::initializer_list<std::string_view> tags);
  // Appends one tag; an empty text is ignored.
  TypeBuilder& Tag(std::string_view tag);
  TypeBuilder& NameSpace(std::string_view nameSpace);
  TypeBuilder& Description(std::string_view description);

  // Appends a field. When type.descriptor is null and the field refers to a
  // descriptor (kind enum or struct, or a vector or map of elements of those
  // kinds), the descriptor registered under the hash of `elementIdentity`
  // (or, when that is null, of `identity`) is looked up now; it stays null
  // when there is none. A vector or map field passes its element type's
  // identity as `elementIdentity`.
  TypeBuilder& Field(std::string_view name, std::string_view description, uint32_t offset,
                     const TypeIdentity* identity, TypeIdentifier type, TypeIdentifier announcedType, uint32_t flags,
                     const FieldConverter* converter, bool optional, const TypeIdentity* elementIdentity = nullptr);
  // The same, with the type taken from NativeFieldTypeOf<T>().
  TypeBuilder& Field(std::string_view name, std::string_view description, uint32_t offset,
                     const NativeFieldType& type, uint32_t flags, const FieldConverter* converter,
                     TypeIdentifier announcedType = {});

  // Sets the enumerator `name`, replacing the number and description of an
  // existing one. Acts even when the type existed.
  TypeBuilder& Enumerator(std::string_view name, int32_t number, std::string_view description);

 private:
  TypeRegistry* registry_;
  TypeDescriptor* descriptor_;
  bool existed_;
};

// Fills an event record right after RegisterEvent; calls do nothing when
// existed() is set.
class EventBuilder {
 public:
  EventBuilder(TypeRegistry* registry, EventRecord* event, bool existed)
      : registry_(registry), event_(event), existed_(existed) {}

  TypeRegistry* registry() const { return registry_; }
  const EventRecord* event() const { return event_; }
  bool existed() const { return existed_; }

  EventBuilder& Tags(const std::vector<std::string>& tags);
  EventBuilder& Tags(std::initializer_list<std::string_view> tags);
  // Appends one tag; an empty text is ignored.
  EventBuilder& Tag(std::string_view tag);
  EventBuilder& NameSpace(std::string_view nameSpace);
  EventBuilder& Description(std::string_view description);

 private:
  TypeRegistry* registry_;
  EventRecord* event_;
  bool existed_;
};

// Fills a function record right after RegisterFunction. Each Argument call
// fills the next argument record and advances the argument counter; when
// the function existed before, Argument only advances the counter and every
// other call does nothing.
class FunctionBuilder {
 public:
  FunctionBuilder(TypeRegistry* registry, FunctionRecord* function, bool existed)
      : registry_(registry), function_(function), existed_(existed) {}

  TypeRegistry* registry() const { return registry_; }
  const FunctionRecord* function() const { return function_; }
  bool existed() const { return existed_; }
  // The index that the next Argument call fills.
  size_t nextArgument() const { return nextArgument_; }

  FunctionBuilder& Tags(const std::vector<std::string>& tags);
  FunctionBuilder& Tags(std::initializer_list<std::string_view> tags);
  // Appends one tag; an empty text is ignored.
  FunctionBuilder& Tag(std::string_view tag);
  FunctionBuilder& NameSpace(std::string_view nameSpace);
  FunctionBuilder& Description(std::string_view description);
  FunctionBuilder& Help(std::string_view help);
  FunctionBuilder& ThreadSafe(bool threadSafe);
  // Marks the function asynchronous, its result described by `result`.
  FunctionBuilder& Async(const TypeDescriptor* result);

  FunctionBuilder& Returns(TypeIdentifier type, TypeIdentifier announcedType = {});
  // The type resolved through TypeRegistry::Identify.
  FunctionBuilder& Returns(const NativeFieldType& type, TypeIdentifier announcedType = {});

  FunctionBuilder& Argument(std::string_view name, std::string_view description, TypeIdentifier type, bool optional,
                            TypeIdentifier announcedType = {});
  // The type resolved through TypeRegistry::Identify; optional from it.
  FunctionBuilder& Argument(std::string_view name, std::string_view description, const NativeFieldType& type,
                            TypeIdentifier announcedType = {});

 private:
  TypeRegistry* registry_;
  FunctionRecord* function_;
  bool existed_;
  size_t nextArgument_ = 0;
};

// See the file comment. Owned by the plug-in object; not copyable.
class TypeRegistry {
 public:
  TypeRegistry();
  ~TypeRegistry();
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;

  // Finds the descriptor named `name` (existed) or creates it with the size,
  // flag, name, identity and its hash, indexed by name and, unless the
  // identity is that of void, by hash. A null identity counts as void's.
  // When two names share an identity, the hash finds the first.
  TypeBuilder RegisterType(uint32_t size, std::string_view name, const TypeIdentity* identity, bool isEnum);
  // The same for the native type T (its size, its identity, is it an enum).
  template <typename T>
  TypeBuilder RegisterType(std::string_view name) {
    return RegisterType(static_cast<uint32_t>(sizeof(T)), name, &StaticType::HashCode<T>(), std::is_enum_v<T>);
  }

  // Null when nothing is registered under the key.
  const TypeDescriptor* FindByHash(uint32_t hash) const;
  const TypeDescriptor* FindByName(std::string_view name) const;
  template <typename T>
  const TypeDescriptor* Find() const {
    return FindByHash(StaticType::HashCode<T>().hash);
  }

  // The type identifier of a native type: its kinds, and the descriptor
  // registered under the hash of its element identity when it refers to
  // one (null when none is registered yet).
  TypeIdentifier Identify(const NativeFieldType& type) const;
  template <typename T>
  TypeIdentifier Identify() const {
    return Identify(NativeFieldTypeOf<T>());
  }

  // Finds the event named `name` (existed; its payload is kept) or creates
  // it with `payload`.
  EventBuilder RegisterEvent(std::string_view name, const TypeDescriptor* payload);
  const EventRecord* FindEvent(std::string_view name) const;

  // Finds the function named `name` (existed) or creates it.
  FunctionBuilder RegisterFunction(std::string_view name);
  const FunctionRecord* FindFunction(std::string_view name) const;

  // Copies of the tables, taken under the mutex, in name order. The
  // pointers stay valid until RemoveAll.
  std::vector<const TypeDescriptor*> TypesSnapshot() const;
  std::vector<const FunctionRecord*> FunctionsSnapshot() const;
  std::vector<const EventRecord*> EventsSnapshot() const;

  // Removes every function, event and type; the builtins-present flag is
  // left as it is. Every pointer handed out before becomes invalid.
  void RemoveAll();

  bool builtinsPresent() const;
  void SetBuiltinsPresent(bool present);

 private:
  friend class TypeBuilder;
  friend class EventBuilder;
  friend class FunctionBuilder;

  // The descriptor a type identifier of (kind, elementKind) refers to,
  // found by `lookup`'s hash; null when the kinds refer to none.
  const TypeDescriptor* ResolveDescriptor(uint32_t kind, uint32_t elementKind, const TypeIdentity* lookup) const;

  // A table of records owned by the registry, by name.
  template <typename Record>
  using Owned = std::map<std::string, std::unique_ptr<Record>, std::less<>>;

  Owned<FunctionRecord> functions_;
  Owned<EventRecord> events_;
  Owned<TypeDescriptor> typesByName_;
  std::unordered_map<uint32_t, TypeDescriptor*> typesByHash_;
  mutable platform::Mutex mutex_;
  bool builtinsPresent_ = false;
};

}  // namespace vaq
