// Calling one of the plug-in's endpoints as the game client's host does:
// through a request entry of the API description, with the endpoint's user
// data in the request record.
#pragma once

#include <string>

#include "rapidjson/document.h"
#include "remoting/api_description.h"
#include "vaq_host/recording_host.h"

namespace vaq_host {

// The method code of a method name: "DELETE" 1 ... "PUT" 7; any other
// name is a custom method (8).
uint32_t MethodCode(const std::string& method);
// The name of a method code ("" outside 1 to 7).
const char* MethodName(uint32_t code);

// Whether an endpoint's path template fits `path` (its query, after "?",
// is not looked at): literal segments equal, "{name}" standing for one
// segment and "{+name}" for the rest of the path.
bool TemplateFits(const char* pathTemplate, const std::string& path);

struct EndpointAnswer {
  std::string function;  // the name of the endpoint that answered; empty when none did
  rapidjson::Document response;  // {"status": n, "body": ...} or {"status": n, "error": "..."}
};

// Calls the endpoint for `method` and `path` (which may carry a query).
// The endpoints whose method and template fit are tried first, then the
// others, each in the description's order, until one answers anything but
// "Invalid function"; when none does, the answer is the last
// "Invalid function". `namedArguments`, when not null, is an object whose
// members become named typed arguments. Every response the plug-in fills is
// released once through its own release function; with `books`, each is
// counted there as received and, once released, as released by the host.
EndpointAnswer CallEndpoint(const ApiDescription* description, const std::string& method, const std::string& path,
                            const rapidjson::Value* namedArguments, RecordingHost* books = nullptr);

}  // namespace vaq_host
