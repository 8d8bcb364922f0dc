// Win32 implementation of the platform doorway (see ../system.h).
#include "platform/system.h"

#include <malloc.h>
#include <windows.h>

#include <new>

namespace vaq::platform {

static_assert(sizeof(CRITICAL_SECTION) <= 64, "Mutex storage too small");

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
  DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
  if (length == 0 || length >= capacity) {
    buffer[capacity - 1] = '\0';
    return length == 0 ? 0 : capacity - 1;
  }
  return length;
}

void DebuggerOutput(const char* text) { OutputDebugStringA(text); }

void* ReserveRegion(size_t size) {
  return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseRegion(void* region, size_t) {
  if (region != nullptr) VirtualFree(region, 0, MEM_RELEASE);
}

size_t HeapBlockSize(void* block) { return block == nullptr ? 0 : _msize(block); }

void* OpenSystemLibrary(const char* name) {
  wchar_t wide[MAX_PATH];
  int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH);
  if (length == 0) return nullptr;
  return reinterpret_cast<void*>(LoadLibraryW(wide));
}

void* FindLibrarySymbol(void* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSystemLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace vaq::platform
