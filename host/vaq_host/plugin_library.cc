#include "vaq_host/plugin_library.h"

#include <filesystem>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vaq_host {

namespace {

constexpr char kLoadExport[] = "load_vaq_clubs_public";

#if defined(_WIN32)
void* OpenLibrary(const std::string& path) { return static_cast<void*>(LoadLibraryA(path.c_str())); }

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::string LastError(const std::string& path) {
  const DWORD code = GetLastError();
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  return path + ": " + (length > 0 ? std::string(text, length) : "error " + std::to_string(code));
}
#else
#if defined(VAQ_KEEP_PLUGIN_MAPPED)
// Sanitizer builds: closing leaves the library mapped. The plug-in links
// libstdc++ statically, whose exception-handling pool is allocated when
// the library is mapped and never freed; once unmapped, LeakSanitizer
// sees it as an anonymous leak of each load and cannot tell it from ours.
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
#endif

void* OpenLibrary(const std::string& path) { return dlopen(path.c_str(), kOpenFlags); }

void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }

std::string LastError(const std::string&) { return dlerror(); }
#endif

}  // namespace

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) CloseLibrary(handle_);
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
  // A relative path, a bare file name included, is taken from the current
  // folder, never from the system's library search.
  std::error_code failure;
  const std::filesystem::path absolute = std::filesystem::absolute(path, failure);
  const std::string opened = failure ? path : absolute.string();
  if (!std::filesystem::exists(opened, failure)) {
    *error = path + ": no such file";
    return false;
  }
  handle_ = OpenLibrary(opened);
  if (handle_ == nullptr) {
    *error = LastError(path);
    return false;
  }
  load_ = reinterpret_cast<LoadPluginFunction>(FindSymbol(handle_, kLoadExport));
  if (load_ == nullptr) {
    *error = path + ": the library has no " + kLoadExport + " export";
    return false;
  }
  return true;
}

}  // namespace vaq_host
