// A host function table that records what the plug-in asks of it.
//
// RecordingHost implements every HostApi slot. It remembers subscriptions
// (so that events can be delivered to the plug-in's callbacks), counts
// every call, and reports each log line and call as a JSON line to an
// observer as it happens. It is the reference host's model of the game
// client's plug-in host. The plug-in may call it from several threads at
// once: its records are guarded by one lock, which is never held while it
// calls back into the plug-in or into the handlers set here.
//
// It also keeps the books of response records, both ways: each record it
// fills for a request of the plug-in is given with a release function that
// counts the plug-in's release before freeing it; each record the plug-in
// fills for an endpoint call of the host is counted by the caller
// (CallEndpoint) when received and when released.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/host_api.h"

namespace vaq_host {

class RecordingHost {
 public:
  struct Subscription {
    std::string name;
    uint32_t pluginHandle;
    HostEventCallback callback;
    void* context;
    uint32_t flag;
  };
  struct LogLine {
    int32_t level;
    std::string message;
  };
  // Response records: `given` to the plug-in as answers to its requests
  // and `releasedByPlugin`; `received` from the plug-in as answers to the
  // host's endpoint calls and `releasedByHost`.
  struct ResponseCounts {
    uint64_t given = 0;
    uint64_t releasedByPlugin = 0;
    uint64_t received = 0;
    uint64_t releasedByHost = 0;
  };

  // `observer` receives one JSON line per call the plug-in makes (may be
  // empty to stay quiet).
  explicit RecordingHost(std::function<void(const std::string&)> observer = {});
  ~RecordingHost();
  RecordingHost(const RecordingHost&) = delete;
  RecordingHost& operator=(const RecordingHost&) = delete;

  // The table handed to the plug-in in HostInitInfo.
  const HostApi* api() const { return &table_.api; }

  // Copies of the records: current subscriptions by event name, log lines,
  // and calls per slot name ("Subscribe", "Unsubscribe", "Log", ...).
  std::map<std::string, Subscription> subscriptions() const;
  std::vector<LogLine> logLines() const;
  std::map<std::string, int> calls() const;
  ResponseCounts responseCounts() const;

  // The books of the records the plug-in fills: one received, one of them
  // released by the host.
  void CountReceivedResponse();
  void CountHostRelease();

  // Answers the plug-in's requests (the response record arrives zeroed;
  // the handler sets the record's release function, or leaves none when
  // the record owns nothing); without one, every request fails with status
  // 404. Either way the plug-in gets the record with a counting release
  // function.
  using RequestHandler = std::function<void(HostResponse* response, const HostRequest* request)>;
  void SetRequestHandler(RequestHandler handler) { requestHandler_ = std::move(handler); }

  // Sees every event the plug-in publishes (the record is the plug-in's,
  // valid during the call only).
  using PublishObserver = std::function<void(const HostEvent& event)>;
  void SetPublishObserver(PublishObserver observer) { publishObserver_ = std::move(observer); }

  // Sees every line the plug-in logs, as it is logged.
  using LogObserver = std::function<void(const LogLine& line)>;
  void SetLogObserver(LogObserver observer) { logObserver_ = std::move(observer); }

  // Delivers an event to the subscription of `name`; false when the
  // plug-in has not subscribed it.
  bool Deliver(const std::string& name, const HostValue& payload) const;

 private:
  static RecordingHost* From(const HostApi* api);
  static void VAQ_CDECL SendRequest(const HostApi* api, HostResponse* response, const HostRequest* request);
  static void VAQ_CDECL Call1(const HostApi* api, uint32_t first, uint32_t second);
  static void VAQ_CDECL PublishEvent(const HostApi* api, const HostEvent* event);
  static void VAQ_CDECL Subscribe(const HostApi* api, const char* name, uint32_t pluginHandle,
                                  HostEventCallback callback, void* context, uint32_t flag);
  static void VAQ_CDECL Unsubscribe(const HostApi* api, const char* name, uint32_t pluginHandle);
  static void VAQ_CDECL Call5(const HostApi* api, uint32_t first, uint32_t second, uint32_t third, double number,
                              uint32_t fourth);
  static void VAQ_CDECL Yield(const HostApi* api);
  static void VAQ_CDECL Mark(const HostApi* api, const char* label, uint32_t word);
  static uint64_t VAQ_CDECL Resume(const HostApi* api);
  static void VAQ_CDECL Log(const HostApi* api, int32_t level, const char* message);

  void Report(const std::string& line) const;
  bool reporting() const { return static_cast<bool>(observer_); }
  // Puts the counting release function on a record given to the plug-in.
  void GiveResponse(HostResponse* response);
  static void VAQ_CDECL CountedRelease(HostResponse* response);
  void Count(const char* slot) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ++calls_[slot];
  }

  // The table handed out, followed by its owner: the plug-in passes the
  // table's address back on every call, which leads to the owner.
  struct Table {
    HostApi api;
    RecordingHost* owner;
  };
  Table table_;
  std::function<void(const std::string&)> observer_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, Subscription> subscriptions_;
  std::vector<LogLine> logLines_;
  std::map<std::string, int> calls_;
  ResponseCounts responses_;
  RequestHandler requestHandler_;
  PublishObserver publishObserver_;
  LogObserver logObserver_;
};

}  // namespace vaq_host
