// The one doorway from the library to the operating system.
//
// Everything the runtime needs from the machine (locks, clocks, thread ids,
// the executable's path, the environment, the debugger console, page
// regions, heap block sizes and system libraries) is declared here and
// implemented once per operating system: posix/ for the development build,
// win32/ for the real target. No other folder includes an operating-system
// header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaq::platform {

// A recursive lock (a critical section on Windows). Owned by whoever embeds
// it; not copyable. Lock and Unlock must pair on the same thread.
class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock();
  void Unlock();

 private:
  // Large enough for pthread_mutex_t and CRITICAL_SECTION on 32 and 64 bits;
  // each implementation static_asserts that its native lock fits.
  alignas(8) unsigned char storage_[64];
};

// Scoped holder of a Mutex.
class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Local wall-clock time, as the log lines print it.
struct LocalTime {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
};

LocalTime CurrentLocalTime();

// A monotonic high-resolution counter and its ticks per second.
uint64_t PerformanceCounter();
uint64_t PerformanceFrequency();

// System time in ticks of 100 ns since 1970-01-01 UTC.
uint64_t SystemTimeTicks();

uint32_t CurrentThreadId();

// Writes the path of the running executable (NUL-terminated, truncated to
// the buffer) and returns its length; 0 when it cannot be found.
size_t ExecutablePath(char* buffer, size_t capacity);

// Writes the value of the environment variable `name` (NUL-terminated)
// and returns its length; 0, with an empty buffer, when the variable is
// unset, empty or longer than capacity - 1.
size_t EnvironmentVariable(const char* name, char* buffer, size_t capacity);

// Sends a NUL-terminated text to an attached debugger's console; does
// nothing where the system has no such console.
void DebuggerOutput(const char* text);

// Reserves and commits a read-write region of `size` bytes aligned to at
// least 4096 bytes, or returns null. Where the system can, its pages are
// made present at once (one call instead of a fault per page: regions are
// taken when their pages are about to be used). Give it back with
// ReleaseRegion.
void* ReserveRegion(size_t size);
// Like ReserveRegion, for a region of a multiple of kLargePageSize bytes
// that is to be filled soon: where the system has large pages, the region
// is aligned to one and advised to use them, and each large page is made
// present when it is first touched (one fault per large page instead of
// one per page). Elsewhere the same as ReserveRegion. Give it back with
// ReleaseRegion.
constexpr size_t kLargePageSize = size_t{2} << 20;
void* ReserveLargePageRegion(size_t size);
void ReleaseRegion(void* region, size_t size);
// Advises the system that the `size` bytes at `block` (a large block, say
// a few MiB, about to be filled and walked in no particular order) are
// better served by large pages: fewer page faults, fewer address
// translations missed. Only advice: nothing changes where the system has
// no such thing.
void AdviseLargePages(void* block, size_t size);

// Usable size of a block from the C heap (0 for null).
size_t HeapBlockSize(void* block);

// A system library opened by name, or null when it is absent. Symbols are
// looked up by name; a missing symbol is null.
void* OpenSystemLibrary(const char* name);
void* FindLibrarySymbol(void* library, const char* name);
void CloseSystemLibrary(void* library);

}  // namespace vaq::platform
