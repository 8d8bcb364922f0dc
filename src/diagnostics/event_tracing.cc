#include "diagnostics/event_tracing.h"

#include <cstring>

#include "platform/system.h"

namespace vaq {
namespace {

constexpr uint32_t kControlDisable = 0;
constexpr uint32_t kControlEnable = 1;

// Each provider's events: {keyword, level}.
constexpr TraceEventFilter kFirstProviderEvents[] = {{1, 0}};
constexpr TraceEventFilter kThreadNameProviderEvents[] = {{1, 0}};
constexpr TraceEventFilter kThirdProviderEvents[] = {{0, 0}};
constexpr TraceEventFilter kFourthProviderEvents[] = {{1, 0}, {2, 0}};

struct ProviderDefinition {
  Guid id;
  const TraceEventFilter* events;
  uint32_t eventCount;
};

// Registered in this order, unregistered in the reverse one.
constexpr ProviderDefinition kProviders[EventTracing::kProviderCount] = {
    {{0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}}, kFirstProviderEvents, 1},
    {{0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}}, kThreadNameProviderEvents, 1},
    {{0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}}, kThirdProviderEvents, 1},
    {{0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}}, kFourthProviderEvents, 2},
};

constexpr EventDescriptor kThreadNameDescriptor = {103, 0, 0, 0, 14, 2, 1};

constexpr char kMainThreadName[] = "Main thread";

bool EventWanted(const TraceProviderContext& context, const TraceEventFilter& event) {
  bool levelWanted = event.level <= context.level || context.level == 0;
  bool keywordWanted = event.keyword == 0 || ((event.keyword & context.matchAnyKeyword) != 0 &&
                                              (event.keyword & context.matchAllKeyword) == context.matchAllKeyword);
  return levelWanted && keywordWanted;
}

// Forgets what sessions asked: the system calls no callback once a provider
// is unregistered, so the next registration starts from nothing.
void ClearSessionState(TraceProviderContext* context) {
  context->enabled = false;
  context->level = 0;
  context->matchAnyKeyword = 0;
  context->matchAllKeyword = 0;
  context->enabledEvents = 0;
}

uint64_t AddressOf(const void* data) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data)); }

}  // namespace

bool LoadEventTracingFunctions(EventTracingFunctions* out) {
  *out = EventTracingFunctions{};
  // Never closed: the system library stays loaded for the whole process
  // anyway, and closing a library while ours is being unloaded is unsafe.
  void* library = platform::OpenSystemLibrary("Advapi32.dll");
  if (library == nullptr) return false;
  out->eventRegister =
      reinterpret_cast<decltype(out->eventRegister)>(platform::FindLibrarySymbol(library, "EventRegister"));
  out->eventWrite = reinterpret_cast<decltype(out->eventWrite)>(platform::FindLibrarySymbol(library, "EventWrite"));
  out->eventUnregister =
      reinterpret_cast<decltype(out->eventUnregister)>(platform::FindLibrarySymbol(library, "EventUnregister"));
  return true;
}

void VAQ_WINAPI ProviderEnableCallback(const Guid*, uint32_t isEnabled, uint8_t level, uint64_t matchAnyKeyword,
                                       uint64_t matchAllKeyword, const void*, void* context) {
  if (context == nullptr) return;
  auto* provider = static_cast<TraceProviderContext*>(context);
  switch (isEnabled) {
    case kControlEnable:
      provider->level = level;
      provider->matchAnyKeyword = matchAnyKeyword;
      provider->matchAllKeyword = matchAllKeyword;
      provider->enabled = true;
      for (uint32_t i = 0; i < provider->eventCount; ++i) {
        uint32_t bit = uint32_t{1} << i;
        if (EventWanted(*provider, provider->events[i])) {
          provider->enabledEvents |= bit;
        } else {
          provider->enabledEvents &= ~bit;
        }
      }
      break;
    case kControlDisable:
      ClearSessionState(provider);
      break;
    default:
      break;
  }
}

const Guid& EventTracing::ProviderId(size_t provider) { return kProviders[provider].id; }

const EventDescriptor& EventTracing::ThreadNameDescriptor() { return kThreadNameDescriptor; }

EventTracing::EventTracing() : functions_{}, contexts_{}, handles_{} {
  for (size_t i = 0; i < kProviderCount; ++i) {
    contexts_[i].events = kProviders[i].events;
    contexts_[i].eventCount = kProviders[i].eventCount;
  }
}

EventTracing::~EventTracing() { Stop(); }

void EventTracing::Start(const EventTracingFunctions& functions) {
  functions_ = functions;
  for (size_t i = 0; i < kProviderCount; ++i) {
    handles_[i] = 0;
    ClearSessionState(&contexts_[i]);
    if (functions_.eventRegister == nullptr) continue;
    // The system may call the enable callback before this returns, when a
    // session already listens to the provider.
    if (functions_.eventRegister(&kProviders[i].id, ProviderEnableCallback, &contexts_[i], &handles_[i]) != 0) {
      handles_[i] = 0;
    }
  }
  if (contexts_[kThreadNameProvider].IsEventEnabled(kThreadNameEvent)) {
    WriteThreadName(platform::CurrentThreadId(), kMainThreadName);
  }
}

void EventTracing::Stop() {
  for (size_t i = kProviderCount; i-- > 0;) {
    if (handles_[i] == 0) continue;
    if (functions_.eventUnregister != nullptr) functions_.eventUnregister(handles_[i]);
    handles_[i] = 0;
    ClearSessionState(&contexts_[i]);
  }
}

void EventTracing::WriteThreadName(uint32_t threadId, const char* name) const {
  if (functions_.eventWrite == nullptr) return;
  if (name == nullptr) name = "NULL";
  EventDataDescriptor data[2] = {
      {AddressOf(&threadId), sizeof threadId, 0},
      {AddressOf(name), static_cast<uint32_t>(std::strlen(name) + 1), 0},
  };
  functions_.eventWrite(handles_[kThreadNameProvider], &kThreadNameDescriptor, 2, data);
}

}  // namespace vaq
