// Win32 implementation of the platform doorway (see ../system.h).
#include "platform/system.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <malloc.h>

#include <new>

namespace vaq::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8, "Mutex storage too small");

namespace {
CRITICAL_SECTION* Native(unsigned char* storage) {
  return reinterpret_cast<CRITICAL_SECTION*>(storage);
}
}  // namespace

Mutex::Mutex() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }

Mutex::~Mutex() { DeleteCriticalSection(Native(storage_)); }

void Mutex::Lock() { EnterCriticalSection(Native(storage_)); }

void Mutex::Unlock() { LeaveCriticalSection(Native(storage_)); }

LocalTime CurrentLocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

uint64_t PerformanceCounter() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<uint64_t>(counter.QuadPart);
}

uint64_t PerformanceFrequency() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<uint64_t>(frequency.QuadPart);
}

uint64_t SystemTimeTicks() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  uint64_t since1601 = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return since1601 - 116444736000000000ull;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(GetCurrentThreadId()); }

size_t ExecutablePath(char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
  if (length == 0) {
    buffer[0] = '\0';
    return 0;
  }
  // A path that does not fit comes back cut to the buffer (and, on older
  // systems, without its terminator).
  if (length >= capacity) {
    buffer[capacity - 1] = '\0';
    return capacity - 1;
  }
  return length;
}

size_t EnvironmentVariable(const char* name, char* buffer, size_t capacity) {
  if (capacity == 0) return 0;
  buffer[0] = '\0';
  // The length without the terminator when the value fits, else the size
  // it would need; 0 when the variable is unset or empty.
  const DWORD length = GetEnvironmentVariableA(name, buffer, static_cast<DWORD>(capacity));
  if (length == 0 || length >= capacity) {
    buffer[0] = '\0';
    return 0;
  }
  return length;
}

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

// VirtualAlloc hands out regions on 64 KiB boundaries.
void* ReserveRegion(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

// Large pages need a privilege that a game client's process does not hold
// (see AdviseLargePages); committed pages are made present as they are
// touched.
void* ReserveLargePageRegion(size_t size) { return ReserveRegion(size); }

void ReleaseRegion(void* region, size_t) {
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}

// Large pages on Windows need a privilege that a game client's process
// does not hold; the advice is not taken.
void AdviseLargePages(void* /*block*/, size_t /*size*/) {}

size_t HeapBlockSize(void* block) { return block == nullptr ? 0 : _msize(block); }

void* OpenSystemLibrary(const char* name) {
  wchar_t wide[MAX_PATH];
  if (name == nullptr || MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH) == 0) return nullptr;
  return static_cast<void*>(LoadLibraryW(wide));
}

void* FindLibrarySymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSystemLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace vaq::platform
