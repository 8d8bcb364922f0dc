// The contract between the plug-in and its host: the records passed at
// load and initialisation, the host's function table and the event record.
//
// These are ordinary C structs with natural alignment, so that on the real
// 32-bit target each member sits at the word the host expects (the offsets
// in the comments); on 64-bit the same declarations widen the pointers.
#pragma once

#include <cstdint>

#include "platform/calling_convention.h"
#include "remoting/host_records.h"

extern "C" {

struct ApiDescription;
struct HostApi;
struct HostInitInfo;
struct HostEvent;
struct PluginMemoryStats;

// Delivers one subscribed event; `event->context` is the context given at
// subscription.
typedef void(VAQ_CDECL* HostEventCallback)(const HostEvent* event);

// The three callbacks the host calls on the plug-in object.
struct PluginCallbacks {
  uint8_t(VAQ_CDECL* Init)(void* plugin, const HostInitInfo* info);    // 0
  void(VAQ_CDECL* Shutdown)(void* plugin);                              // 4
  void(VAQ_CDECL* GetMemoryStats)(void* plugin, PluginMemoryStats* out);  // 8
};

// In/out record of the load export.
struct PluginLoadInfo {
  uint32_t apiMajor;                 // 0: host's version in, plug-in's out
  uint32_t apiMinor;                 // 4
  uint32_t apiPatch;                 // 8
  const PluginCallbacks* callbacks;  // 12
  void* plugin;                      // 16: context of every callback
  const char* fullName;              // 20
  const ApiDescription* description; // 24
};

struct HostInitInfo {
  const HostApi* api;     // 0
  uint32_t pluginHandle;  // 4
};

// The host's function table; the table itself is always the first
// argument.
struct HostApi {
  void(VAQ_CDECL* SendRequest)(const HostApi* api, HostResponse* response, const HostRequest* request);  // 0
  void(VAQ_CDECL* Call1)(const HostApi* api, uint32_t first, uint32_t second);                           // 4
  void(VAQ_CDECL* PublishEvent)(const HostApi* api, const HostEvent* event);                             // 8
  void(VAQ_CDECL* Subscribe)(const HostApi* api, const char* name, uint32_t pluginHandle,
                             HostEventCallback callback, void* context, uint32_t flag);                   // 12
  void(VAQ_CDECL* Unsubscribe)(const HostApi* api, const char* name, uint32_t pluginHandle);             // 16
  void(VAQ_CDECL* Call5)(const HostApi* api, uint32_t first, uint32_t second, uint32_t third, double number,
                         uint32_t fourth);                                                                // 20
  void(VAQ_CDECL* Yield)(const HostApi* api);                                                             // 24
  void(VAQ_CDECL* Mark)(const HostApi* api, const char* label, uint32_t word);                           // 28
  uint64_t(VAQ_CDECL* Resume)(const HostApi* api);                                                        // 32
  void(VAQ_CDECL* Log)(const HostApi* api, int32_t level, const char* message);                          // 36
};

// An event as the host delivers it to a subscription callback, and as the
// plug-in publishes one (name and payload only).
struct HostEvent {
  const char* name;    // 0
  HostValue payload;   // 4 (12 bytes)
  uint32_t reserved;   // 16: not read
  void* context;       // 20: the subscription's context
};

// What GetMemoryStats writes: six counters and two zero words.
struct PluginMemoryStats {
  uint64_t peakLiveBytes;    // 0
  uint64_t liveCountAtPeak;  // 8
  uint64_t bytesAllocated;   // 16
  uint64_t allocationCount;  // 24
  uint64_t bytesFreed;       // 32
  uint64_t freeCount;        // 40
  uint32_t reserved[2];      // 48
};

// The library's one export.
typedef void(VAQ_CDECL* LoadPluginFunction)(PluginLoadInfo* info);

}  // extern "C"

#include <cstddef>

// On the 32-bit target the records have exactly the host's word offsets.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginCallbacks) == 12 && offsetof(PluginCallbacks, Shutdown) == 4 &&
              offsetof(PluginCallbacks, GetMemoryStats) == 8);
static_assert(sizeof(PluginLoadInfo) == 28 && offsetof(PluginLoadInfo, callbacks) == 12 &&
              offsetof(PluginLoadInfo, plugin) == 16 && offsetof(PluginLoadInfo, fullName) == 20 &&
              offsetof(PluginLoadInfo, description) == 24);
static_assert(sizeof(HostInitInfo) == 8 && offsetof(HostInitInfo, pluginHandle) == 4);
static_assert(sizeof(HostApi) == 40 && offsetof(HostApi, PublishEvent) == 8 && offsetof(HostApi, Subscribe) == 12 &&
              offsetof(HostApi, Yield) == 24 && offsetof(HostApi, Resume) == 32 && offsetof(HostApi, Log) == 36);
static_assert(sizeof(HostEvent) == 24 && offsetof(HostEvent, payload) == 4 && offsetof(HostEvent, reserved) == 16 &&
              offsetof(HostEvent, context) == 20);
static_assert(sizeof(PluginMemoryStats) == 56 && offsetof(PluginMemoryStats, freeCount) == 40 &&
              offsetof(PluginMemoryStats, reserved) == 48);
#endif
