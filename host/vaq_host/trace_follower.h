// Following the plug-in's trace lines from inside the host.
//
// The library writes its trace lines where the environment variable
// VAQ_TRACE says when it is loaded (src/diagnostics/trace.h). A
// TraceFollower, made before the library is loaded, points VAQ_TRACE at a
// fresh file of its own in the temporary folder and then hands over each
// complete line the library has written since the last look, so that the
// host can show them among its own output in the order they happened.
// Owns the file and removes it when destroyed.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace vaq_host {

class TraceFollower {
 public:
  TraceFollower() = default;
  ~TraceFollower();
  TraceFollower(const TraceFollower&) = delete;
  TraceFollower& operator=(const TraceFollower&) = delete;

  // Creates the file and sets VAQ_TRACE for this process. Returns false,
  // with `error` saying why, when it cannot.
  bool Start(std::string* error);

  // Calls `line` for every complete line written since the last call, in
  // order, without its line break.
  void Drain(const std::function<void(const std::string& line)>& line);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool following_ = false;
  size_t offset_ = 0;  // bytes of the file read so far
  std::string partial_;  // a line whose end has not been written yet
};

}  // namespace vaq_host
