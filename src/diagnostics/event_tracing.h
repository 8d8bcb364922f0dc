// Event Tracing for Windows: the library's trace providers.
//
// The library registers four trace providers with the system's event
// tracing and, when a trace session listens to the second one, writes one
// event that names the thread that loaded the library ("Main thread").
//
// The system's tracing functions are reached through a table of function
// pointers (EventTracingFunctions) found in the system library at start-up;
// where that library does not exist (every system but Windows) the table
// stays empty and tracing is off. The types below mirror the system's
// tracing records byte for byte, so that the table can point straight at
// the system's functions; tests point it at their own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/calling_convention.h"

// The calling convention of the system's tracing functions and of the
// enable callback it calls: stdcall on 32-bit Windows, the platform default
// elsewhere.
#if defined(_WIN32) && !defined(_WIN64)
#define VAQ_WINAPI __stdcall
#else
#define VAQ_WINAPI
#endif

namespace vaq {

// A provider's identity, laid out as the system's GUID.
struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// What an event is: laid out as the system's EVENT_DESCRIPTOR.
struct EventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

// One item of an event's data: laid out as the system's
// EVENT_DATA_DESCRIPTOR. `ptr` holds the item's address widened to 64 bits.
struct EventDataDescriptor {
  uint64_t ptr;
  uint32_t size;
  uint32_t reserved;
};

// A provider's registration, as the system hands it out; 0 means none.
using TraceRegistrationHandle = uint64_t;

static_assert(sizeof(Guid) == 16);
static_assert(sizeof(EventDescriptor) == 16 && offsetof(EventDescriptor, keyword) == 8);
static_assert(sizeof(EventDataDescriptor) == 16);

// Called by the system when a trace session enables (isEnabled 1) or
// disables (0) a provider; `context` is the one given at registration.
using TraceEnableCallback = void(VAQ_WINAPI*)(const Guid* source, uint32_t isEnabled, uint8_t level,
                                             uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                                             const void* filter, void* context);

// The system's three tracing functions (EventRegister, EventWrite,
// EventUnregister). Any of them may be null.
struct EventTracingFunctions {
  uint32_t(VAQ_WINAPI* eventRegister)(const Guid* provider, TraceEnableCallback callback, void* context,
                                      TraceRegistrationHandle* handle);
  uint32_t(VAQ_WINAPI* eventWrite)(TraceRegistrationHandle handle, const EventDescriptor* descriptor,
                                   uint32_t dataCount, const EventDataDescriptor* data);
  uint32_t(VAQ_WINAPI* eventUnregister)(TraceRegistrationHandle handle);
};

// Finds the system's tracing functions. Returns false, leaving `out` all
// null, when the system library cannot be opened; a function missing from
// it stays null. The library stays open for the life of the process.
bool LoadEventTracingFunctions(EventTracingFunctions* out);

// One event a provider can write, as far as enabling is concerned.
struct TraceEventFilter {
  uint64_t keyword;
  uint8_t level;
};

// What a trace session has asked of one provider, kept up to date by
// ProviderEnableCallback. `events` (not owned, usually static) lists the
// provider's events; bit i of `enabledEvents` says whether event i is
// wanted. At most 32 events.
struct TraceProviderContext {
  const TraceEventFilter* events;
  uint32_t eventCount;
  bool enabled;
  uint8_t level;
  uint64_t matchAnyKeyword;
  uint64_t matchAllKeyword;
  uint32_t enabledEvents;

  bool IsEventEnabled(uint32_t index) const {
    return index < eventCount && (enabledEvents & (uint32_t{1} << index)) != 0;
  }
};

// The enable callback given to the system for every provider; `context`
// is the provider's TraceProviderContext. On disable it clears the flag,
// level, keywords and every event bit. On enable it stores level and
// keywords, sets the flag and enables each event whose level is at most
// the session's level (or the session's level is 0) and whose keyword is 0
// or shares a bit with match-any and holds every bit of match-all. Other
// control codes (a capture-state request) change nothing.
void VAQ_WINAPI ProviderEnableCallback(const Guid* source, uint32_t isEnabled, uint8_t level,
                                       uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                                       const void* filter, void* context);

// The library's four trace providers: their contexts and registrations.
//
// Owns the provider contexts whose addresses the system keeps while the
// providers are registered, so an instance must not move or be destroyed
// between Start and Stop. Holds a copy of the function table. Allocates
// nothing, so that it can live in static storage and run while the
// library's static data is set up and torn down.
class EventTracing {
 public:
  static constexpr size_t kProviderCount = 4;
  // The provider of the thread-name event, and the event's index there.
  static constexpr size_t kThreadNameProvider = 1;
  static constexpr uint32_t kThreadNameEvent = 0;

  static const Guid& ProviderId(size_t provider);
  static const EventDescriptor& ThreadNameDescriptor();

  EventTracing();
  // Unregisters whatever is still registered.
  ~EventTracing();
  EventTracing(const EventTracing&) = delete;
  EventTracing& operator=(const EventTracing&) = delete;

  // Registers the four providers in order and, when a session has already
  // enabled the thread-name event, writes it for the calling thread with
  // the name "Main thread". A missing register function leaves every
  // handle 0; a missing write function writes nothing.
  void Start(const EventTracingFunctions& functions);

  // Unregisters the providers, last first, those with a non-zero handle
  // only, and zeroes the handles.
  void Stop();

  // Writes the thread-name event for `threadId` on the second provider;
  // a null name is written as "NULL". Does not check whether it is enabled.
  void WriteThreadName(uint32_t threadId, const char* name) const;

  TraceRegistrationHandle Handle(size_t provider) const { return handles_[provider]; }
  const TraceProviderContext& Context(size_t provider) const { return contexts_[provider]; }

 private:
  EventTracingFunctions functions_;
  TraceProviderContext contexts_[kProviderCount];
  TraceRegistrationHandle handles_[kProviderCount];
};

}  // namespace vaq
