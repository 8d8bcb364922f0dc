#include "vaq_host/trace_follower.h"

#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
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
  // The C runtime's copy for this program, and the process's own block,
  // which is what the library reads.
  return _putenv_s(kTraceVariable, value.c_str()) == 0 &&
         SetEnvironmentVariableA(kTraceVariable, value.c_str()) != 0;
#else
  return setenv(kTraceVariable, value.c_str(), 1) == 0;
#endif
}

}  // namespace

TraceFollower::~TraceFollower() {
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
  if (!SetVariable(path_)) {
    *error = "cannot follow the trace file " + path_;
    return false;
  }
  following_ = true;
  return true;
}

void TraceFollower::Drain(const std::function<void(const std::string& line)>& line) {
  if (!following_) return;
  // Opened anew each time at the offset read so far: a stream kept open
  // past its end does not see later writes with every C runtime.
  std::FILE* file = std::fopen(path_.c_str(), "rb");
  if (file == nullptr) return;
  if (std::fseek(file, static_cast<long>(offset_), SEEK_SET) == 0) {
    char buffer[4096];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
      partial_.append(buffer, read);
      offset_ += read;
    }
  }
  std::fclose(file);
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
