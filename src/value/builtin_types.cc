#include "value/builtin_types.h"

#include "value/record_registration.h"

namespace vaq {
namespace binding {
namespace {

const char kBuiltinTag[] = "$builtin";

void RegisterEnums(TypeRegistry& registry) {
  EnumRegistration<BindingHelpFormat>(registry, "BindingHelpFormat")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Help format for binding functions and types.")
      .Enumerator("Full", BindingHelpFormat::kFull, "Native help format")
      .Enumerator("Epytext", BindingHelpFormat::kEpytext, "Python epytext format");

  EnumRegistration<BindingAsyncState>(registry, "BindingAsyncState")
      .Tag(kBuiltinTag)
      .Tag("async")
      .Description("Possible states of an asynchronous operation.")
      .Enumerator("None", BindingAsyncState::kNone, "Invalid state")
      .Enumerator("Running", BindingAsyncState::kRunning, "The operation is in flight")
      .Enumerator("Cancelling", BindingAsyncState::kCancelling, "A request to cancel the operation has been made")
      .Enumerator("Cancelled", BindingAsyncState::kCancelled, "The operation was cancelled")
      .Enumerator("Succeeded", BindingAsyncState::kSucceeded, "The operation completed successfully")
      .Enumerator("Failed", BindingAsyncState::kFailed, "The operation encountered an error");
}

void RegisterEventPayloads(TypeRegistry& registry) {
  RecordRegistration<BindingGenericEvent>(registry, "BindingGenericEvent")
      .Tag(kBuiltinTag)
      .Description("Represents generic data for an event.")
      .Field("data", &BindingGenericEvent::data, "Event data");

  RecordRegistration<BindingCallbackEvent>(registry, "BindingCallbackEvent")
      .Tag(kBuiltinTag)
      .Description("Represents the parameters of a call to a provided callback.")
      .Field("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .Field("parameters", &BindingCallbackEvent::parameters, "Callback parameters");

  RecordRegistration<BindingGenericAsyncEvent>(registry, "BindingGenericAsyncEvent")
      .Tag(kBuiltinTag)
      .Tag("async")
      .Description("Represents generic data for an asynchronous event.")
      .Field("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token")
      .Field("data", &BindingGenericAsyncEvent::data, "Event data");

  RecordRegistration<BindingAsyncFailureEvent>(registry, "BindingAsyncFailureEvent")
      .Tag(kBuiltinTag)
      .Tag("async")
      .Description("Represents a failed asynchronous operation.")
      .Field("asyncToken", &BindingAsyncFailureEvent::asyncToken, "Asynchronous operation token")
      .Field("error", &BindingAsyncFailureEvent::error, "Error message");

  RecordRegistration<BindingAsyncCancelEvent>(registry, "BindingAsyncCancelEvent")
      .Tag(kBuiltinTag)
      .Tag("async")
      .Description("Represents a cancelled asynchronous operation.")
      .Field("asyncToken", &BindingAsyncCancelEvent::asyncToken, "Asynchronous operation token");
}

// Each record after the records its fields hold.
void RegisterHelpRecords(TypeRegistry& registry) {
  RecordRegistration<BindingFullTypeIdentifier>(registry, "BindingFullTypeIdentifier")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes the type of a value.")
      .Field("type", &BindingFullTypeIdentifier::type)
      .Field("elementType", &BindingFullTypeIdentifier::elementType);

  RecordRegistration<BindingFullArgumentHelp>(registry, "BindingFullArgumentHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes a function parameter.")
      .Field("name", &BindingFullArgumentHelp::name)
      .Field("description", &BindingFullArgumentHelp::description)
      .Field("type", &BindingFullArgumentHelp::type)
      .Field("optional", &BindingFullArgumentHelp::optional);

  RecordRegistration<BindingFullFunctionHelp>(registry, "BindingFullFunctionHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes a function.")
      .Field("name", &BindingFullFunctionHelp::name)
      .Field("nameSpace", &BindingFullFunctionHelp::nameSpace)
      .Field("arguments", &BindingFullFunctionHelp::arguments)
      .Field("returns", &BindingFullFunctionHelp::returns)
      .Field("description", &BindingFullFunctionHelp::description)
      .Field("help", &BindingFullFunctionHelp::help)
      .Field("threadSafe", &BindingFullFunctionHelp::threadSafe)
      .Field("async", &BindingFullFunctionHelp::async)
      .Field("tags", &BindingFullFunctionHelp::tags);

  RecordRegistration<BindingFullEnumValueHelp>(registry, "BindingFullEnumValueHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes an enumerator.")
      .Field("name", &BindingFullEnumValueHelp::name)
      .Field("description", &BindingFullEnumValueHelp::description)
      .Field("value", &BindingFullEnumValueHelp::value);

  RecordRegistration<BindingFullFieldHelp>(registry, "BindingFullFieldHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes a member of a struct.")
      .Field("name", &BindingFullFieldHelp::name)
      .Field("description", &BindingFullFieldHelp::description)
      .Field("offset", &BindingFullFieldHelp::offset)
      .Field("type", &BindingFullFieldHelp::type)
      .Field("optional", &BindingFullFieldHelp::optional);

  RecordRegistration<BindingFullTypeHelp>(registry, "BindingFullTypeHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes a struct or enum type.")
      .Field("name", &BindingFullTypeHelp::name)
      .Field("nameSpace", &BindingFullTypeHelp::nameSpace)
      .Field("size", &BindingFullTypeHelp::size)
      .Field("description", &BindingFullTypeHelp::description)
      .Field("tags", &BindingFullTypeHelp::tags)
      .Field("fields", &BindingFullTypeHelp::fields)
      .Field("values", &BindingFullTypeHelp::values);

  RecordRegistration<BindingFullEventHelp>(registry, "BindingFullEventHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes an event.")
      .Field("name", &BindingFullEventHelp::name)
      .Field("nameSpace", &BindingFullEventHelp::nameSpace)
      .Field("type", &BindingFullEventHelp::type)
      .Field("description", &BindingFullEventHelp::description)
      .Field("tags", &BindingFullEventHelp::tags);

  RecordRegistration<BindingFullApiHelp>(registry, "BindingFullApiHelp")
      .Tag(kBuiltinTag)
      .Tag("help")
      .Description("Describes the exposed native API.")
      .Field("functions", &BindingFullApiHelp::functions)
      .Field("types", &BindingFullApiHelp::types)
      .Field("events", &BindingFullApiHelp::events);
}

}  // namespace
}  // namespace binding

void RegisterBuiltins(TypeRegistry& registry) {
  if (registry.builtinsPresent()) registry.RemoveAll();
  binding::RegisterEnums(registry);
  binding::RegisterEventPayloads(registry);
  binding::RegisterHelpRecords(registry);
  registry.RegisterEvent("OnCallback", registry.Find<binding::BindingCallbackEvent>())
      .Description("Fired when a callback is invoked.")
      .Tag(binding::kBuiltinTag);
  registry.SetBuiltinsPresent(true);
}

}  // namespace vaq
