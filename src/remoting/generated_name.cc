#include "remoting/generated_name.h"

#include <cctype>

namespace vaq {

std::string GeneratedFunctionName(std::string_view methodName, std::string_view pathTemplate) {
  std::string source;
  if (!methodName.empty()) {
    source += methodName[0];
    for (size_t i = 1; i < methodName.size(); ++i) {
      source += static_cast<char>(std::tolower(static_cast<unsigned char>(methodName[i])));
    }
    source += '/';
  }
  source += pathTemplate;

  std::string name;
  name.reserve(source.size() + 8);
  bool upperNext = true;
  for (char c : source) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        upperNext = true;
        break;
      case '{':
        name += "By";
        upperNext = true;
        break;
      case '}':
        break;
      default:
        name += upperNext ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        upperNext = false;
        break;
    }
  }
  return name;
}

}  // namespace vaq
