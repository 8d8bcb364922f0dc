// Filling and releasing response records.
//
// A response record that the plug-in fills owns its body value, its error
// message, its response text (unless it is the shared empty text) and its
// headers; ReleaseHostResponse frees all of that and zeroes the record, so
// releasing twice is harmless. The body stream, when there is one, is not
// released with the record: the host closes it through its close function.
#pragma once

#include <string_view>

#include "remoting/host_records.h"

namespace vaq {

// The release function the plug-in sets on every response it fills.
void VAQ_CDECL ReleaseHostResponse(HostResponse* response);

// The shared empty response text; never freed.
char* SharedEmptyText();

// Frees the body value, stores an owned copy of `message` as the error and
// sets the failed flag.
void FailHostResponse(HostResponse* response, std::string_view message);

// The answer to a request whose handling threw: releases whatever the
// record holds, then status 500, the failed flag and the error "Internal
// error: <reason>". Allocates nothing that can throw: when even that text
// cannot be copied, the error is the shared text "Internal error", which
// the release function leaves alone. Keeps the record's release function.
void FailHostResponseInternally(HostResponse* response, const char* reason) noexcept;

}  // namespace vaq
