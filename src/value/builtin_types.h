// The builtin binding types that every type registry starts with.
//
// They are the records in which an API is described natively
// (BindingFullApiHelp and what it holds), the help-format and
// asynchronous-state enumerations, and the generic event payloads, plus the
// event "OnCallback". All of them carry the tag "$builtin" and are
// registered under their short names ("BindingFullApiHelp", ...), before
// the runtime's and the plug-in's own types, so that they are announced to
// the host with those.
//
// The records are plain values: they own their members and nothing else.
//
//   TypeRegistry registry;
//   RegisterBuiltins(registry);
//   const TypeDescriptor* help = registry.Find<binding::BindingFullApiHelp>();
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "value/static_type.h"
#include "value/type_registry.h"
#include "value/value.h"

namespace vaq {
namespace binding {

enum class BindingHelpFormat : int32_t {
  kFull = 1,     // native help format
  kEpytext = 2,  // Python epytext format
};

enum class BindingAsyncState : int32_t {
  kNone = 0,
  kRunning = 1,
  kCancelling = 2,
  kCancelled = 3,
  kSucceeded = 4,
  kFailed = 5,
};

// The payload of an event that carries free data.
struct BindingGenericEvent {
  Value data;
};

// The parameters of a call to a callback that the host was given.
struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<Value> parameters;
};

struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  Value data;
};

struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};

// The type of a value, as the help records name it.
struct BindingFullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct BindingFullArgumentHelp {
  std::string name;
  std::string description;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<BindingFullArgumentHelp> arguments;
  BindingFullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};

struct BindingFullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};

struct BindingFullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  BindingFullTypeIdentifier type;
  bool optional = false;
};

struct BindingFullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingFullFieldHelp> fields;
  std::vector<BindingFullEnumValueHelp> values;
};

struct BindingFullEventHelp {
  std::string name;
  std::string nameSpace;
  BindingFullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

// The whole native API of a plug-in.
struct BindingFullApiHelp {
  std::vector<BindingFullFunctionHelp> functions;
  std::vector<BindingFullTypeHelp> types;
  std::vector<BindingFullEventHelp> events;
};

}  // namespace binding

// Registers the builtin enums, structs and the event "OnCallback" in
// `registry`, in that order, and marks the builtins present. When they are
// already marked present, every function, event and type of the registry
// is removed first, so that the registry holds the builtins alone.
void RegisterBuiltins(TypeRegistry& registry);

}  // namespace vaq

VAQ_DECLARE_ENUM_SPELLING(vaq::binding::BindingHelpFormat);
VAQ_DECLARE_ENUM_SPELLING(vaq::binding::BindingAsyncState);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingGenericEvent);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingCallbackEvent);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingGenericAsyncEvent);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingAsyncFailureEvent);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingAsyncCancelEvent);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullTypeIdentifier);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullArgumentHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullFunctionHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullEnumValueHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullFieldHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullTypeHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullEventHelp);
VAQ_DECLARE_STRUCT_SPELLING(vaq::binding::BindingFullApiHelp);
