#include "vaq_host/plugin_library.h"

#include <dlfcn.h>

namespace vaq_host {

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

bool PluginLibrary::Open(const std::string& path, std::string* error) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    *error = dlerror();
    return false;
  }
  load_ = reinterpret_cast<LoadPluginFunction>(dlsym(handle_, "load_vaq_clubs_public"));
  if (load_ == nullptr) {
    *error = "the library has no load_vaq_clubs_public export";
    return false;
  }
  return true;
}

}  // namespace vaq_host
