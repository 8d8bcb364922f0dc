// vaq-decode: shows what the plug-in's readers make of a body.
//
//   vaq-decode --json|--yaml|--msgpack [--kinds] [FILE]
//
// Reads FILE (standard input when absent or "-") with the library's own
// JSON, YAML or MessagePack reader, exactly as the plug-in reads a request
// body: JSON and YAML text ends at its first NUL byte, and a MessagePack
// body must hold one object and nothing after it. Prints the decoded value
// as pretty-printed JSON on standard output, or with --kinds every node
// with its kind. A MessagePack body that ends inside an open array or map
// is refused, as the plug-in refuses it. On a decoding failure it prints
// the reader's message on standard error and exits 1 (for JSON with the
// line and column, from 1, of the offset the message names); usage errors
// and unreadable input exit 2. Every line on standard error starts with
// "vaq-decode: ".
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "readers/json_reader.h"
#include "readers/yaml_reader.h"
#include "readers/message_pack_reader.h"
#include "vaq_decode/value_json.h"

namespace {

enum class Format { kNone, kJson, kYaml, kMessagePack };

constexpr const char kUsage[] =
    "usage: vaq-decode --json|--yaml|--msgpack [--kinds] [FILE]\n"
               "  --json, --yaml, --msgpack   the reader to use\n"
               "  --kinds                     print every node with its kind\n"
    "  FILE                        the input; standard input when absent or \"-\"\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vaq-decode: %s\n%s", problem, kUsage);
  return 2;
}

// Line and column, from 1, of the byte at `offset` of `text` (a column
// counts characters).
void LineAndColumn(const std::string& text, size_t offset, size_t* line, size_t* column) {
  *line = 1;
  *column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++*line;
      *column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++*column;
    }
  }
}

bool ReadAll(std::FILE* file, std::string* out) {
  char buffer[65536];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) out->append(buffer, count);
  return std::ferror(file) == 0;
}

bool ReadInput(const std::string& path, std::string* out) {
  if (path.empty() || path == "-") {
    // MessagePack is binary: no newline translation where there is any.
#if defined(_WIN32)
    // The Windows C runtime cannot reopen a stream without a file name.
    _setmode(_fileno(stdin), _O_BINARY);
    return ReadAll(stdin, out);
#else
    std::FILE* input = std::freopen(nullptr, "rb", stdin);
    return ReadAll(input != nullptr ? input : stdin, out);
#endif
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  const bool read = ReadAll(file, out);
  std::fclose(file);
  return read;
}

// The plug-in reads JSON and YAML bodies as zero-terminated text.
void NoteNul(const std::string& text) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    std::fprintf(stderr, "vaq-decode: note: the input holds a NUL byte at offset %zu; the text ends there\n", nul);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Format format = Format::kNone;
  bool kinds = false;
  std::string path;
  bool havePath = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    Format chosen = Format::kNone;
    if (argument == "--json") {
      chosen = Format::kJson;
    } else if (argument == "--yaml") {
      chosen = Format::kYaml;
    } else if (argument == "--msgpack") {
      chosen = Format::kMessagePack;
    } else if (argument == "--kinds") {
      kinds = true;
      continue;
    } else if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return std::fflush(stdout) == 0 ? 0 : 2;
    } else if (argument.size() > 1 && argument[0] == '-') {
      return Usage(("unknown option " + std::string(argument)).c_str());
    } else {
      if (havePath) return Usage("more than one input file");
      path = argument;
      havePath = true;
      continue;
    }
    if (format != Format::kNone && format != chosen) return Usage("choose one of --json, --yaml, --msgpack");
    format = chosen;
  }
  if (format == Format::kNone) return Usage("choose one of --json, --yaml, --msgpack");

  std::string input;
  if (!ReadInput(path, &input)) {
    std::fprintf(stderr, "vaq-decode: cannot read %s: %s\n", havePath ? path.c_str() : "standard input",
                 std::strerror(errno));
    return 2;
  }

  vaq::ValueResult result;
  size_t jsonErrorOffset = 0;
  switch (format) {
    case Format::kJson:
      NoteNul(input);
      result = vaq::ParseJson(input.c_str(), &jsonErrorOffset);
      break;
    case Format::kYaml:
      NoteNul(input);
      result = vaq::ParseYaml(input.c_str(), std::strlen(input.c_str()));
      break;
    case Format::kMessagePack: {
      size_t consumed = 0;
      result = vaq::DecodeWholeMessagePack(reinterpret_cast<const uint8_t*>(input.data()), input.size(), &consumed);
      if (result.ok() && consumed != input.size()) {
        std::fprintf(stderr,
                     "vaq-decode: extra MessagePack data after the first object: it ends at position %zu of %zu "
                     "bytes\n",
                     consumed, input.size());
        return 1;
      }
      break;
    }
    case Format::kNone:
      break;
  }
  if (!result.ok()) {
    const std::string_view message = result.Message();
    if (format == Format::kJson) {
      size_t line = 0;
      size_t column = 0;
      LineAndColumn(input, jsonErrorOffset, &line, &column);
      std::fprintf(stderr, "vaq-decode: line %zu, column %zu: %.*s\n", line, column, static_cast<int>(message.size()),
                   message.data());
    } else {
      std::fprintf(stderr, "vaq-decode: %.*s\n", static_cast<int>(message.size()), message.data());
    }
    return 1;
  }
  // Printed as it is made: a large tree's text is never held whole.
  bool written = true;
  const vaq_decode::TextSink toStandardOutput = [&written](std::string_view piece) {
    written = written && std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size();
  };
  if (kinds) {
    vaq_decode::WriteValueKindsJson(result.value(), toStandardOutput);
  } else {
    vaq_decode::WriteValueJson(result.value(), toStandardOutput);
  }
  return std::fflush(stdout) == 0 && written ? 0 : 2;
}
