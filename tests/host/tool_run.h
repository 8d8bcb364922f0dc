// Runs one of the built programs (vaq-host, vaq-decode) as a person would
// from the command line, and collects what it printed and how it exited.
// The tests that drive the programs as whole processes share it, so that
// they run alike under a POSIX shell and under Windows' cmd.exe.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace vaq_test {

struct ToolRun {
  int exitCode;     // the program's exit status; -1 when it could not be run
  std::string out;  // standard output, every line ending in "\n"
  std::string err;  // standard error, likewise
};

// A file's text with the system's line ends read as "\n" (a Windows
// program's text output ends its lines with "\r\n").
inline std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs `command` (the program's quoted path and its arguments, possibly
// with "< file") through the system's command interpreter, with standard
// output and error sent to `base`.out and `base`.err; reads and removes
// them.
inline ToolRun RunTool(const std::string& command, const std::string& base) {
  const std::string out = base + ".out";
  const std::string err = base + ".err";
  const std::string redirected = command + " > \"" + out + "\" 2> \"" + err + "\"";
  ToolRun run{-1, "", ""};
#if defined(_WIN32)
  // cmd.exe drops the first and the last quote of a line that starts with
  // one: the extra pair keeps the quoted paths whole. What std::system
  // returns is the program's exit code.
  run.exitCode = std::system(("\"" + redirected + "\"").c_str());
#else
  // The shell's own status would mix in how it ended: ask it for $? instead.
  const std::string rc = base + ".rc";
  const std::string line = redirected + "; echo $? > \"" + rc + "\"";
  EXPECT_EQ(std::system(line.c_str()), 0) << line;
  const std::string status = ReadText(rc);
  if (!status.empty()) run.exitCode = std::atoi(status.c_str());
  std::remove(rc.c_str());
#endif
  run.out = ReadText(out);
  run.err = ReadText(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

}  // namespace vaq_test
