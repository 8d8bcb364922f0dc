#include "vaq_host/trace_follower.h"

#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <process.h>
#define VAQ_PROCESS_ID _getpid
#else
#include <unistd.h>
#define VAQ_PROCESS_ID getpid
#endif

namespace vaq_host {

namespace {

constexpr char kTraceVariable[] = "VAQ_TRACE";

bool SetVariable(const std::string& value) {
#if defined(_WIN32)
  return _putenv_s(kTraceVariable, value.c_str()) == 0;
#else
  return setenv(kTraceVariable, value.c_str(), 1) == 0;
#endif
}

}  // namespace

TraceFollower::~TraceFollower() {
  if (file_ != nullptr) std::fclose(file_);
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
}

bool TraceFollower::Start(std::string* error) {
  std::error_code failure;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(failure);
  if (failure) {
    *error = "no temporary folder for the trace file: " + failure.message();
    return false;
  }
  path_ = (folder / ("vaq-host-trace-" + std::to_string(VAQ_PROCESS_ID()) + ".txt")).string();
  // Created empty here, so that lines of an earlier run never show.
  std::FILE* created = std::fopen(path_.c_str(), "w");
  if (created == nullptr) {
    *error = "cannot create the trace file " + path_;
    return false;
  }
  std::fclose(created);
  file_ = std::fopen(path_.c_str(), "rb");
  if (file_ == nullptr || !SetVariable(path_)) {
    *error = "cannot follow the trace file " + path_;
    return false;
  }
  return true;
}

void TraceFollower::Drain(const std::function<void(const std::string& line)>& line) {
  if (file_ == nullptr) return;
  char buffer[4096];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, file_)) > 0) partial_.append(buffer, read);
  std::clearerr(file_);  // what is written later is read by the next call
  size_t start = 0;
  for (size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
    size_t length = end - start;
    if (length > 0 && partial_[start + length - 1] == '\r') --length;
    line(partial_.substr(start, length));
    start = end + 1;
  }
  partial_.erase(0, start);
}

}  // namespace vaq_host
