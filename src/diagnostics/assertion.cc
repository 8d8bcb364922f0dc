#include "diagnostics/assertion.h"

#include "diagnostics/logger.h"

namespace vaq {
namespace {

bool Present(const char* text) { return text != nullptr && text[0] != '\0'; }

}  // namespace

std::string AssertionReportText(const char* expression, const char* file, uint32_t line, const char* function,
                                const char* description) {
  std::string text = "Assertion failed!\n\n";
  if (Present(file)) {
    text += "File: ";
    text += file;
    text += "\n";
  }
  if (line != 0) {
    text += "Line: ";
    text += std::to_string(line);
    text += "\n\n";
  }
  if (Present(function)) {
    text += "Function: ";
    text += function;
    text += "\n\n";
  }
  if (Present(expression)) {
    text += "Expression: ";
    text += expression;
  }
  if (Present(description)) {
    text += "\n\nDescription: ";
    text += description;
  }
  return text;
}

void ReportAssertion(const char* expression, const char* file, uint32_t line, const char* function,
                     const char* description) {
  std::string text = AssertionReportText(expression, file, line, function, description);
  Log(kLogError, 1, 0, "%s", text.c_str());
}

}  // namespace vaq
