// POSIX implementation of the platform doorway (see ../system.h).
#include "platform/system.h"

#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vaq::platform {

static_assert(sizeof(pthread_mutex_t) <= 64, "Mutex storage too small");

namespace {
pthread_mutex_t* Native(unsigned char* storage) {
  return reinterpret_cast<pthread_mutex_t*>(storage);
}
}  // namespace

Mutex::Mutex() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(new (storage_) pthread_mutex_t, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

Mutex::~Mutex() { pthread_mutex_destroy(Native(storage_)); }

void Mutex::Lock() { pthread_mutex_lock(Native(storage_)); }

void Mutex::Unlock() { pthread_mutex_unlock(Native(storage_)); }

LocalTime CurrentLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  time_t seconds = now.tv_sec;
  tm parts{};
  localtime_r(&seconds, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                   parts.tm_min,         parts.tm_sec,     static_cast<int32_t>(now.tv_nsec / 1000000)};
}

uint64_t PerformanceCounter() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

uint64_t PerformanceFrequency() { return 1000000000ull; }

uint64_t SystemTimeTicks() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<uint64_t>(now.tv_sec) * 10000000ull + static_cast<uint64_t>(now.tv_nsec) / 100;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

size_t ExecutablePath(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  ssize_t length = readlink("/proc/self/exe", buffer, capacity - 1);
  if (length <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return static_cast<size_t>(length);
}

size_t EnvironmentVariable(const char* name, char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  const char* value = std::getenv(name);
  if (value == nullptr) return 0;
  const size_t length = std::strlen(value);
  if (length >= capacity) return 0;
  std::memcpy(buffer, value, length + 1);
  return length;
}

void DebuggerOutput(const char*) {}

void* ReserveRegion(size_t size) {
  void* region = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return region == MAP_FAILED ? nullptr : region;
}

void* ReserveLargePageRegion(size_t size) {
#if defined(MADV_HUGEPAGE)
  // Map a large page more than asked and cut off what lies outside the
  // aligned region.
  if (size > SIZE_MAX - kLargePageSize) return nullptr;
  void* mapped = mmap(nullptr, size + kLargePageSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kLargePageSize - 1) & ~uintptr_t{kLargePageSize - 1};
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t tail = start + kLargePageSize - aligned;  // what the head did not take
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  // Only advice: without large pages the region still works, a page at a
  // time.
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
#else
  return ReserveRegion(size);
#endif
}

void ReleaseRegion(void* region, size_t size) {
  if (region != nullptr) munmap(region, size);
}

void AdviseLargePages(void* block, size_t size) {
#if defined(MADV_HUGEPAGE)
  // Only whole large pages inside the block can be such pages.
  constexpr uintptr_t kLargePage = kLargePageSize;
  const auto begin = (reinterpret_cast<uintptr_t>(block) + kLargePage - 1) & ~(kLargePage - 1);
  const auto end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

size_t HeapBlockSize(void* block) { return block == nullptr ? 0 : malloc_usable_size(block); }

void* OpenSystemLibrary(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* FindLibrarySymbol(void* library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void CloseSystemLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace vaq::platform
