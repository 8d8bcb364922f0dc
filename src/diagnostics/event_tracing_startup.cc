// Starts the library's event tracing while its static data is set up, and
// stops it when the library is unloaded.
//
// The one object below lives in static storage and allocates nothing: the
// providers are registered before any export is called and unregistered by
// its destructor. Where the system has no event tracing the function table
// cannot be loaded and nothing is registered.
#include "diagnostics/event_tracing.h"

namespace vaq {
namespace {

class EventTracingStartup {
 public:
  EventTracingStartup() {
    EventTracingFunctions functions;
    if (LoadEventTracingFunctions(&functions)) tracing_.Start(functions);
  }
  ~EventTracingStartup() { tracing_.Stop(); }
  EventTracingStartup(const EventTracingStartup&) = delete;
  EventTracingStartup& operator=(const EventTracingStartup&) = delete;

 private:
  EventTracing tracing_;
};

EventTracingStartup startup;

}  // namespace
}  // namespace vaq
