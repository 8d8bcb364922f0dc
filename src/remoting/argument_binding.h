// Binding the arguments of one call to an endpoint's parameters.
//
// An ArgumentBinder holds one Value per parameter of the endpoint's
// function (bool parameters that are not optional start as false) and
// fills them from the sources of a request: named texts (headers, path
// captures, query pairs, with dotted paths into structures and
// collections), typed arguments the host already carries as host values,
// and the body. Texts stay strings unless the parameter is structured
// (object, vector, struct) and the text looks like MessagePack, JSON or
// YAML. The first failure goes into the call context and stops the named
// and typed binding; conversion to native parameters comes later (the
// invoker's business).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/call_context.h"
#include "remoting/endpoint.h"
#include "remoting/host_records.h"
#include "value/value.h"

namespace vaq {

// The largest index a dotted argument path may name. Indices up to it are
// far beyond any real argument; larger ones would make the binder allocate
// memory out of all proportion to the request.
inline constexpr uint64_t kMaxArgumentIndex = 65535;

// Decodes an argument text into `slot`: with `sniff`, a text starting with
// a MessagePack map or array byte is MessagePack, one starting (after
// spaces) with "{" or "[" is JSON, one starting with "---" is YAML; anything
// else, and every text without `sniff`, is a string. On a decoding failure
// returns false with the message in `error`.
bool DecodeArgumentText(Value& slot, std::string_view functionName, std::string_view parameterName,
                        std::string_view text, bool sniff, std::string* error);

class ArgumentBinder {
 public:
  ArgumentBinder(const Endpoint& endpoint, CallContext& context);
  ArgumentBinder(const ArgumentBinder&) = delete;
  ArgumentBinder& operator=(const ArgumentBinder&) = delete;

  // Binds `text` under `name` ("param" or "param.member.0.x") from a
  // source with location code `location`. False (and the context failed)
  // on an error.
  bool BindText(std::string_view name, std::string_view text, uint32_t location);
  // Binds a typed argument: by its name, or, without one, to the parameter
  // at `positionalIndex`.
  bool BindTyped(const HostTypedArgument& argument, size_t positionalIndex);
  // Decodes the request body into the first body parameter, by content
  // type. Runs even after an earlier failure; its own failure replaces the
  // earlier message.
  void BindBody(const HostRequest& request);

  std::vector<Value>& slots() { return slots_; }
  const std::string& functionName() const;

 private:
  // Index of the parameter named `name`, or -1.
  ptrdiff_t FindParameter(std::string_view name) const;
  uint32_t LocationOf(size_t index) const;
  bool Fail(std::string message);
  bool SetWholeSlot(size_t index, std::string_view text);

  const Endpoint& endpoint_;
  CallContext& context_;
  std::vector<Value> slots_;
};

}  // namespace vaq
