#include "value/type_registry.h"

#include <utility>

#include "value/fnv1a.h"

namespace vaq {

namespace {

void AppendTags(std::vector<std::string>& out, const std::vector<std::string>& tags) {
  out.insert(out.end(), tags.begin(), tags.end());
}

void AppendTags(std::vector<std::string>& out, std::initializer_list<std::string_view> tags) {
  for (std::string_view tag : tags) out.emplace_back(tag);
}

void AppendTag(std::vector<std::string>& out, std::string_view tag) {
  if (!tag.empty()) out.emplace_back(tag);
}

template <typename Record>
const Record* FindIn(const std::map<std::string, std::unique_ptr<Record>, std::less<>>& table, std::string_view name) {
  auto it = table.find(name);
  return it == table.end() ? nullptr : it->second.get();
}

template <typename Record>
std::vector<const Record*> Snapshot(const std::map<std::string, std::unique_ptr<Record>, std::less<>>& table) {
  std::vector<const Record*> copy;
  copy.reserve(table.size());
  for (const auto& [name, record] : table) copy.push_back(record.get());
  return copy;
}

}  // namespace

// ---------------------------------------------------------------------------
// TypeDescriptor

const FieldDescriptor* TypeDescriptor::FindField(std::string_view fieldName) const {
  auto it = fieldIndex.find(fieldName);
  return it == fieldIndex.end() ? nullptr : it->second;
}

const EnumeratorRecord* TypeDescriptor::FindEnumerator(std::string_view enumeratorName) const {
  auto it = values.find(enumeratorName);
  return it == values.end() ? nullptr : &it->second;
}

const std::string* TypeDescriptor::EnumeratorName(int32_t number) const {
  for (const auto& [enumeratorName, record] : values) {
    if (record.number == number) return &enumeratorName;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// TypeBuilder

TypeBuilder& TypeBuilder::Tags(const std::vector<std::string>& tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(descriptor_->tags, tags);
  return *this;
}

TypeBuilder& TypeBuilder::Tags(std::initializer_list<std::string_view> tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(descriptor_->tags, tags);
  return *this;
}

TypeBuilder& TypeBuilder::Tag(std::string_view tag) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTag(descriptor_->tags, tag);
  return *this;
}

TypeBuilder& TypeBuilder::NameSpace(std::string_view nameSpace) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  descriptor_->nameSpace = nameSpace;
  return *this;
}

TypeBuilder& TypeBuilder::Description(std::string_view description) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  descriptor_->description = description;
  return *this;
}

TypeBuilder& TypeBuilder::Field(std::string_view name, std::string_view description, uint32_t offset,
                                const TypeIdentity* identity, TypeIdentifier type, TypeIdentifier announcedType,
                                uint32_t flags, const FieldConverter* converter, bool optional,
                                const TypeIdentity* elementIdentity) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  if (type.descriptor == nullptr) {
    type.descriptor = registry_->ResolveDescriptor(type.kind, type.elementKind,
                                                   elementIdentity != nullptr ? elementIdentity : identity);
  }
  FieldDescriptor& field = descriptor_->fields.emplace_back();
  field.name = name;
  field.nameHash = Fnv1aHash(name);
  field.description = description;
  field.identity = identity;
  field.offset = offset;
  field.type = type;
  field.announcedType = announcedType;
  field.flags = flags;
  field.converter = converter;
  field.owner = descriptor_;
  field.optional = optional;
  descriptor_->fieldIndex.emplace(field.name, &field);
  return *this;
}

TypeBuilder& TypeBuilder::Field(std::string_view name, std::string_view description, uint32_t offset,
                                const NativeFieldType& type, uint32_t flags, const FieldConverter* converter,
                                TypeIdentifier announcedType) {
  return Field(name, description, offset, type.identity, TypeIdentifier{type.kind, type.elementKind, nullptr},
               announcedType, flags, converter, type.optional, type.elementIdentity);
}

TypeBuilder& TypeBuilder::Enumerator(std::string_view name, int32_t number, std::string_view description) {
  platform::MutexLock lock(registry_->mutex_);
  auto it = descriptor_->values.find(name);
  if (it == descriptor_->values.end()) it = descriptor_->values.emplace(std::string(name), EnumeratorRecord{}).first;
  it->second.number = number;
  it->second.description = description;
  return *this;
}

// ---------------------------------------------------------------------------
// EventBuilder

EventBuilder& EventBuilder::Tags(const std::vector<std::string>& tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(event_->tags, tags);
  return *this;
}

EventBuilder& EventBuilder::Tags(std::initializer_list<std::string_view> tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(event_->tags, tags);
  return *this;
}

EventBuilder& EventBuilder::Tag(std::string_view tag) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTag(event_->tags, tag);
  return *this;
}

EventBuilder& EventBuilder::NameSpace(std::string_view nameSpace) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  event_->nameSpace = nameSpace;
  return *this;
}

EventBuilder& EventBuilder::Description(std::string_view description) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  event_->description = description;
  return *this;
}

// ---------------------------------------------------------------------------
// FunctionBuilder

FunctionBuilder& FunctionBuilder::Tags(const std::vector<std::string>& tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(function_->tags, tags);
  return *this;
}

FunctionBuilder& FunctionBuilder::Tags(std::initializer_list<std::string_view> tags) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTags(function_->tags, tags);
  return *this;
}

FunctionBuilder& FunctionBuilder::Tag(std::string_view tag) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  AppendTag(function_->tags, tag);
  return *this;
}

FunctionBuilder& FunctionBuilder::NameSpace(std::string_view nameSpace) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->nameSpace = nameSpace;
  return *this;
}

FunctionBuilder& FunctionBuilder::Description(std::string_view description) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->description = description;
  return *this;
}

FunctionBuilder& FunctionBuilder::Help(std::string_view help) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->help = help;
  return *this;
}

FunctionBuilder& FunctionBuilder::ThreadSafe(bool threadSafe) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->threadSafe = threadSafe;
  return *this;
}

FunctionBuilder& FunctionBuilder::Async(const TypeDescriptor* result) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->async = true;
  function_->asyncResult = result;
  return *this;
}

FunctionBuilder& FunctionBuilder::Returns(TypeIdentifier type, TypeIdentifier announcedType) {
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  function_->returnType = type;
  function_->announcedReturnType = announcedType;
  return *this;
}

FunctionBuilder& FunctionBuilder::Returns(const NativeFieldType& type, TypeIdentifier announcedType) {
  if (existed_) return *this;
  return Returns(registry_->Identify(type), announcedType);
}

FunctionBuilder& FunctionBuilder::Argument(std::string_view name, std::string_view description, TypeIdentifier type,
                                           bool optional, TypeIdentifier announcedType) {
  size_t index = nextArgument_++;
  if (existed_) return *this;
  platform::MutexLock lock(registry_->mutex_);
  std::vector<ArgumentRecord>& arguments = function_->arguments;
  if (arguments.size() <= index) arguments.resize(index + 1);
  ArgumentRecord& argument = arguments[index];
  argument.name = name;
  argument.nameHash = Fnv1aHash(name);
  argument.description = description;
  argument.optional = optional;
  argument.type = type;
  argument.announcedType = announcedType;
  return *this;
}

FunctionBuilder& FunctionBuilder::Argument(std::string_view name, std::string_view description,
                                           const NativeFieldType& type, TypeIdentifier announcedType) {
  if (existed_) {
    ++nextArgument_;
    return *this;
  }
  return Argument(name, description, registry_->Identify(type), type.optional, announcedType);
}

// ---------------------------------------------------------------------------
// TypeRegistry

TypeRegistry::TypeRegistry() = default;

TypeRegistry::~TypeRegistry() = default;

TypeBuilder TypeRegistry::RegisterType(uint32_t size, std::string_view name, const TypeIdentity* identity,
                                       bool isEnum) {
  platform::MutexLock lock(mutex_);
  auto it = typesByName_.find(name);
  if (it != typesByName_.end()) return TypeBuilder(this, it->second.get(), true);

  if (identity == nullptr) identity = &StaticType::HashCode<void>();
  auto owned = std::make_unique<TypeDescriptor>();
  TypeDescriptor* descriptor = owned.get();
  descriptor->size = size;
  descriptor->isEnum = isEnum;
  descriptor->name = name;
  descriptor->hash = identity->hash;
  descriptor->identity = identity;
  descriptor->registry = this;
  typesByName_.emplace(descriptor->name, std::move(owned));
  if (!IsVoidIdentity(identity)) typesByHash_.emplace(identity->hash, descriptor);
  return TypeBuilder(this, descriptor, false);
}

const TypeDescriptor* TypeRegistry::FindByHash(uint32_t hash) const {
  platform::MutexLock lock(mutex_);
  auto it = typesByHash_.find(hash);
  return it == typesByHash_.end() ? nullptr : it->second;
}

const TypeDescriptor* TypeRegistry::FindByName(std::string_view name) const {
  platform::MutexLock lock(mutex_);
  return FindIn(typesByName_, name);
}

const TypeDescriptor* TypeRegistry::ResolveDescriptor(uint32_t kind, uint32_t elementKind,
                                                      const TypeIdentity* lookup) const {
  bool refers = KindHasDescriptor(kind) || ((kind == kTypeVector || kind == kTypeMap) && KindHasDescriptor(elementKind));
  if (!refers || IsVoidIdentity(lookup)) return nullptr;
  return FindByHash(lookup->hash);
}

TypeIdentifier TypeRegistry::Identify(const NativeFieldType& type) const {
  return TypeIdentifier{type.kind, type.elementKind,
                        ResolveDescriptor(type.kind, type.elementKind, type.elementIdentity)};
}

EventBuilder TypeRegistry::RegisterEvent(std::string_view name, const TypeDescriptor* payload) {
  platform::MutexLock lock(mutex_);
  auto it = events_.find(name);
  if (it != events_.end()) return EventBuilder(this, it->second.get(), true);
  auto owned = std::make_unique<EventRecord>();
  EventRecord* event = owned.get();
  event->name = name;
  event->payload = payload;
  events_.emplace(event->name, std::move(owned));
  return EventBuilder(this, event, false);
}

const EventRecord* TypeRegistry::FindEvent(std::string_view name) const {
  platform::MutexLock lock(mutex_);
  return FindIn(events_, name);
}

FunctionBuilder TypeRegistry::RegisterFunction(std::string_view name) {
  platform::MutexLock lock(mutex_);
  auto it = functions_.find(name);
  if (it != functions_.end()) return FunctionBuilder(this, it->second.get(), true);
  auto owned = std::make_unique<FunctionRecord>();
  FunctionRecord* function = owned.get();
  function->name = name;
  functions_.emplace(function->name, std::move(owned));
  return FunctionBuilder(this, function, false);
}

const FunctionRecord* TypeRegistry::FindFunction(std::string_view name) const {
  platform::MutexLock lock(mutex_);
  return FindIn(functions_, name);
}

std::vector<const TypeDescriptor*> TypeRegistry::TypesSnapshot() const {
  platform::MutexLock lock(mutex_);
  return Snapshot(typesByName_);
}

std::vector<const FunctionRecord*> TypeRegistry::FunctionsSnapshot() const {
  platform::MutexLock lock(mutex_);
  return Snapshot(functions_);
}

std::vector<const EventRecord*> TypeRegistry::EventsSnapshot() const {
  platform::MutexLock lock(mutex_);
  return Snapshot(events_);
}

void TypeRegistry::RemoveAll() {
  platform::MutexLock lock(mutex_);
  functions_.clear();
  events_.clear();
  typesByHash_.clear();
  typesByName_.clear();
}

bool TypeRegistry::builtinsPresent() const {
  platform::MutexLock lock(mutex_);
  return builtinsPresent_;
}

void TypeRegistry::SetBuiltinsPresent(bool present) {
  platform::MutexLock lock(mutex_);
  builtinsPresent_ = present;
}

}  // namespace vaq
