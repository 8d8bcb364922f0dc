// What the plug-in does in return for one event, checked against what the
// model expects.
//
// An EffectCheck is told the expected effects of an event (ClubModel) and
// then everything the plug-in does while the event is delivered: each
// publication as it comes (compared at once: its event name, the first
// under the path's name and the second under "OnJsonApiEvent", its uri,
// type and payload), each PUT of its own presence, each log line and any
// request the host did not expect. Afterwards Difference() says what, if
// anything, was not as expected. The JSON it builds comes from the scratch
// allocator it is given, which the caller owns and clears between events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/host_api.h"
#include "rapidjson/document.h"
#include "vaq_host/club_model.h"

namespace vaq_host {

class EffectCheck {
 public:
  explicit EffectCheck(rapidjson::MemoryPoolAllocator<>* scratch) : scratch_(scratch) {}

  void Begin(ExpectedEffects expected);

  void Published(const HostEvent& event);
  void OwnPresencePut(const std::string& clubsData) { puts_.push_back(clubsData); }
  void Logged(const std::string& message) { logs_.push_back(message); }
  // Something the plug-in did that no event of the run asks for.
  void Unexpected(const std::string& what);

  // Empty when the plug-in did exactly what was expected since Begin;
  // otherwise the first difference, with both sides.
  std::string Difference() const;

  // Publications seen since the check was made.
  uint64_t publications() const { return publications_; }

 private:
  rapidjson::MemoryPoolAllocator<>* scratch_;
  ExpectedEffects expected_;
  size_t seen_ = 0;  // publications since Begin
  std::vector<std::string> puts_;
  std::vector<std::string> logs_;
  std::string mismatch_;
  uint64_t publications_ = 0;
};

// The name of an event type: "Create", "Update", "Delete", or the number.
std::string EventTypeName(int32_t type);

}  // namespace vaq_host
