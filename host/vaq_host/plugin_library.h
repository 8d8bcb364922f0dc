// The plug-in library as a host sees it: a shared object (a DLL on
// Windows) opened by path whose only entry is the load export.
#pragma once

#include <string>

#include "plugin/host_api.h"

namespace vaq_host {

// Owns the opened library; closes it when destroyed.
class PluginLibrary {
 public:
  PluginLibrary() = default;
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Opens `path` and finds "load_vaq_clubs_public". A relative path (a
  // bare file name too) is taken from the current folder. On failure
  // returns false and `error` says why.
  bool Open(const std::string& path, std::string* error);

  LoadPluginFunction load() const { return load_; }

 private:
  void* handle_ = nullptr;
  LoadPluginFunction load_ = nullptr;
};

}  // namespace vaq_host
