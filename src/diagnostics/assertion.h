// Assertion reports.
//
// A failed check becomes one error message in the log: a fixed heading and
// the parts of the failure that are known (file, line, function, the
// expression that failed, a description). Reporting does not stop the
// program; the caller decides what follows.
#pragma once

#include <cstdint>
#include <string>

namespace vaq {

// The report's text. Any text may be null or empty and a line of 0 means
// unknown; unknown parts are left out. The parts, in order:
//   "Assertion failed!\n\n"
//   "File: <file>\n"
//   "Line: <line>\n\n"
//   "Function: <function>\n\n"
//   "Expression: <expression>"
//   "\n\nDescription: <description>"
std::string AssertionReportText(const char* expression, const char* file, uint32_t line, const char* function,
                                const char* description);

// Logs the report's text at level ERROR in the DBG category.
void ReportAssertion(const char* expression, const char* file, uint32_t line, const char* function,
                     const char* description);

}  // namespace vaq
