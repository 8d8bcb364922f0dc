// A path in the test temporary folder that no other test process uses.
// ctest runs the tests side by side, each in its own process, and several
// build folders may run theirs at once: the process id keeps their files
// apart, so one test's clean-up never removes another's file.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace vaq_test {

inline std::string TempPath(const std::string& name) {
  return testing::TempDir() + "vaq_" + std::to_string(::getpid()) + "_" + name;
}

}  // namespace vaq_test
