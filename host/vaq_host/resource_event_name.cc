#include "vaq_host/resource_event_name.h"

namespace vaq_host {

std::string ResourceEventName(std::string_view path) {
  std::string name = "OnJsonApiEvent";
  size_t parts = 1;
  size_t maxParts = 4;
  size_t position = 0;
  while (parts < maxParts) {
    const size_t start = path.find_first_not_of('/', position);
    if (start == std::string_view::npos) break;
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (parts == 1 && segment == "vaq-platform-config") maxParts = 6;
    name += '_';
    name += segment;
    ++parts;
    position = end;
  }
  return name;
}

}  // namespace vaq_host
