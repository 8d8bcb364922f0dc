#include "vaq_host/recording_host.h"

#include <type_traits>
#include <unordered_map>

#include "vaq_host/json_line.h"

namespace vaq_host {

namespace {

// The records given to the plug-in and not yet released: who gave each
// and the release function the request handler set (null when the record
// owns nothing). A release function receives only the record, so the
// books are kept by the record's address.
struct GivenResponse {
  RecordingHost* host;
  HostResponseRelease release;
};

std::mutex& LedgerMutex() {
  static std::mutex mutex;
  return mutex;
}

std::unordered_map<const HostResponse*, GivenResponse>& Ledger() {
  static std::unordered_map<const HostResponse*, GivenResponse> ledger;
  return ledger;
}

}  // namespace

RecordingHost::RecordingHost(std::function<void(const std::string&)> observer)
    : table_{{&SendRequest, &Call1, &PublishEvent, &Subscribe, &Unsubscribe, &Call5, &Yield, &Mark, &Resume, &Log},
             this},
      observer_(std::move(observer)) {}

RecordingHost::~RecordingHost() {
  // Records the plug-in never released must not lead back to this host.
  std::lock_guard<std::mutex> lock(LedgerMutex());
  for (auto entry = Ledger().begin(); entry != Ledger().end();) {
    entry = entry->second.host == this ? Ledger().erase(entry) : std::next(entry);
  }
}

RecordingHost* RecordingHost::From(const HostApi* api) {
  static_assert(std::is_standard_layout_v<Table>);
  return reinterpret_cast<const Table*>(api)->owner;
}

void RecordingHost::Report(const std::string& line) const {
  if (observer_) observer_(line);
}

std::map<std::string, RecordingHost::Subscription> RecordingHost::subscriptions() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return subscriptions_;
}

std::vector<RecordingHost::LogLine> RecordingHost::logLines() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return logLines_;
}

std::map<std::string, int> RecordingHost::calls() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return calls_;
}

RecordingHost::ResponseCounts RecordingHost::responseCounts() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return responses_;
}

void RecordingHost::CountReceivedResponse() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++responses_.received;
}

void RecordingHost::CountHostRelease() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++responses_.releasedByHost;
}

void RecordingHost::GiveResponse(HostResponse* response) {
  {
    std::lock_guard<std::mutex> lock(LedgerMutex());
    // A record still in the books at this address was never released; the
    // counts show it.
    Ledger()[response] = GivenResponse{this, response->release};
  }
  response->release = &CountedRelease;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  ++responses_.given;
}

void VAQ_CDECL RecordingHost::CountedRelease(HostResponse* response) {
  if (response == nullptr) return;
  GivenResponse given{};
  {
    std::lock_guard<std::mutex> lock(LedgerMutex());
    auto found = Ledger().find(response);
    if (found == Ledger().end()) return;  // released already
    given = found->second;
    Ledger().erase(found);
  }
  if (given.release != nullptr) {
    given.release(response);
  } else {
    *response = HostResponse{};
  }
  std::lock_guard<std::recursive_mutex> lock(given.host->mutex_);
  ++given.host->responses_.releasedByPlugin;
}

bool RecordingHost::Deliver(const std::string& name, const HostValue& payload) const {
  Subscription subscription;
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto found = subscriptions_.find(name);
    if (found == subscriptions_.end()) return false;
    subscription = found->second;
  }
  HostEvent event{subscription.name.c_str(), payload, 0, subscription.context};
  subscription.callback(&event);
  return true;
}

void VAQ_CDECL RecordingHost::SendRequest(const HostApi* api, HostResponse* response, const HostRequest* request) {
  RecordingHost* host = From(api);
  host->Count("SendRequest");
  if (host->reporting()) {
    host->Report(JsonLine()
                     .Text("host", "request")
                     .Unsigned("method", request->method)
                     .Text("path", request->path ? request->path : "")
                     .str());
  }
  *response = HostResponse{};
  if (host->requestHandler_) {
    host->requestHandler_(response, request);
  } else {
    // Nothing is served: every request fails.
    static char notFound[] = "RESOURCE_NOT_FOUND";
    response->error = notFound;
    response->failed = 1;
    response->status = 404;
  }
  host->GiveResponse(response);
}

void VAQ_CDECL RecordingHost::Call1(const HostApi* api, uint32_t, uint32_t) { From(api)->Count("Call1"); }

void VAQ_CDECL RecordingHost::PublishEvent(const HostApi* api, const HostEvent* event) {
  RecordingHost* host = From(api);
  host->Count("PublishEvent");
  if (host->reporting()) {
    host->Report(JsonLine().Text("host", "publish").Text("event", event->name ? event->name : "").str());
  }
  if (host->publishObserver_) host->publishObserver_(*event);
}

void VAQ_CDECL RecordingHost::Subscribe(const HostApi* api, const char* name, uint32_t pluginHandle,
                                        HostEventCallback callback, void* context, uint32_t flag) {
  RecordingHost* host = From(api);
  host->Count("Subscribe");
  {
    std::lock_guard<std::recursive_mutex> lock(host->mutex_);
    host->subscriptions_[name] = Subscription{name, pluginHandle, callback, context, flag};
  }
  host->Report(
      JsonLine().Text("host", "subscribe").Text("event", name).Unsigned("handle", pluginHandle).Unsigned("flag", flag).str());
}

void VAQ_CDECL RecordingHost::Unsubscribe(const HostApi* api, const char* name, uint32_t pluginHandle) {
  RecordingHost* host = From(api);
  host->Count("Unsubscribe");
  {
    std::lock_guard<std::recursive_mutex> lock(host->mutex_);
    host->subscriptions_.erase(name);
  }
  host->Report(JsonLine().Text("host", "unsubscribe").Text("event", name).Unsigned("handle", pluginHandle).str());
}

void VAQ_CDECL RecordingHost::Call5(const HostApi* api, uint32_t, uint32_t, uint32_t, double, uint32_t) {
  From(api)->Count("Call5");
}

void VAQ_CDECL RecordingHost::Yield(const HostApi* api) { From(api)->Count("Yield"); }

void VAQ_CDECL RecordingHost::Mark(const HostApi* api, const char* label, uint32_t word) {
  RecordingHost* host = From(api);
  host->Count("Mark");
  host->Report(JsonLine().Text("host", "mark").Text("label", label ? label : "").Unsigned("word", word).str());
}

uint64_t VAQ_CDECL RecordingHost::Resume(const HostApi* api) {
  From(api)->Count("Resume");
  return 0;
}

void VAQ_CDECL RecordingHost::Log(const HostApi* api, int32_t level, const char* message) {
  RecordingHost* host = From(api);
  host->Count("Log");
  const LogLine line{level, message ? message : ""};
  {
    std::lock_guard<std::recursive_mutex> lock(host->mutex_);
    host->logLines_.push_back(line);
  }
  host->Report(JsonLine().Text("host", "log").Number("level", level).Text("message", line.message).str());
  if (host->logObserver_) host->logObserver_(line);
}

}  // namespace vaq_host
