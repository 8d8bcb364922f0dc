// Runs the built vaq-decode on a few inputs and checks what it prints and
// how it exits.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "host/tool_run.h"
#include "temp_path.h"

namespace {

using vaq_test::ToolRun;

class VaqDecodeTest : public testing::Test {
 protected:
  // Runs vaq-decode with `arguments` on `input` given as a file (or on
  // standard input when `viaStdin`).
  ToolRun Decode(const std::string& arguments, const std::string& input, bool viaStdin = false) {
    const std::string base = vaq_test::TempPath("decode_" + std::to_string(++counter_));
    std::ofstream(base + ".in", std::ios::binary) << input;
    const std::string command =
        std::string("\"") + VAQ_DECODE_PATH + "\" " + arguments + (viaStdin ? " < \"" : " \"") + base + ".in\"";
    ToolRun run = vaq_test::RunTool(command, base);
    std::remove((base + ".in").c_str());
    return run;
  }

 private:
  int counter_ = 0;
};

TEST_F(VaqDecodeTest, PrintsJsonInValueOrder) {
  const ToolRun run = Decode("--json", R"({"b": [1, -2, 2.5, 42.0, "q\"\u0001", null, true], "a": {}, "c": []})");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"a\": {},\n"
            "  \"b\": [\n"
            "    1,\n"
            "    -2,\n"
            "    2.5,\n"
            "    42.0,\n"
            "    \"q\\\"\\u0001\",\n"
            "    null,\n"
            "    true\n"
            "  ],\n"
            "  \"c\": []\n"
            "}\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(VaqDecodeTest, KindsTellNumbersApart) {
  const ToolRun run = Decode("--yaml --kinds", "a: [42, -42, 42.5]\n", /*viaStdin=*/true);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"kind\": \"structure\",\n"
            "  \"value\": {\n"
            "    \"a\": {\n"
            "      \"kind\": \"collection\",\n"
            "      \"value\": [\n"
            "        {\"kind\": \"unsigned\", \"value\": 42},\n"
            "        {\"kind\": \"signed\", \"value\": -42},\n"
            "        {\"kind\": \"float\", \"value\": 42.5}\n"
            "      ]\n"
            "    }\n"
            "  }\n"
            "}\n");
}

TEST_F(VaqDecodeTest, MessagePackBlobsAndSignedness) {
  // [1, uint8 255, bin "hi", float64 1.0]
  const std::string input("\x94\x01\xCC\xFF\xC4\x02hi\xCB\x3F\xF0\x00\x00\x00\x00\x00\x00", 17);
  const ToolRun run = Decode("--msgpack --kinds", input);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out,
            "{\n"
            "  \"kind\": \"collection\",\n"
            "  \"value\": [\n"
            "    {\"kind\": \"signed\", \"value\": 1},\n"
            "    {\"kind\": \"unsigned\", \"value\": 255},\n"
            "    {\"kind\": \"blob\", \"value\": \"aGk=\"},\n"
            "    {\"kind\": \"float\", \"value\": 1.0}\n"
            "  ]\n"
            "}\n");
}

TEST_F(VaqDecodeTest, OutputIsValidJsonWhateverTheInput) {
  // ["\xFF", "\xC3\xA9", float64 NaN, -inf, bin ""]: bytes that are not UTF-8, and floats JSON cannot hold.
  const std::string input(
      "\x95\xA1\xFF\xA2\xC3\xA9"
      "\xCB\x7F\xF8\x00\x00\x00\x00\x00\x00"
      "\xCB\xFF\xF0\x00\x00\x00\x00\x00\x00"
      "\xC4\x00",
      26);
  const ToolRun run = Decode("--msgpack", input);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "[\n  \"\\ufffd\",\n  \"\xC3\xA9\",\n  \"NaN\",\n  \"-Infinity\",\n  \"\"\n]\n");
}

TEST_F(VaqDecodeTest, FailuresAndUsage) {
  const struct {
    const char* arguments;
    std::string input;
    int exitCode;
    const char* err;  // start of standard error
  } kCases[] = {
      {"--json", "true x", 1,
       "vaq-decode: line 1, column 6: Error: The document root must not be followed by other values. at offset 5.\n"},
      {"--json", "{\n  \"a\": 1,\n  \"b\" 2\n}", 1,
       "vaq-decode: line 3, column 7: Error: Missing a colon after a name of object member. at offset 18.\n"},
      {"--yaml", "a: *nope", 1, "vaq-decode: Undefined alias encountered: \"nope\". At line: 1 col: 4\n"},
      {"--msgpack", std::string("\x81\x01\x02", 3), 1,
       "vaq-decode: Invalid MessagePack data at position 2. Map keys must be strings.\n"},
      {"--msgpack", std::string("\x82\xA1\x61\x01", 4), 1,
       "vaq-decode: Invalid MessagePack data. The data ends at position 4 inside an open map.\n"},
      {"--msgpack", std::string("\x01\x02", 2), 1, "vaq-decode: extra MessagePack data"},
      {"", "1", 2, "vaq-decode: choose one of --json, --yaml, --msgpack\nusage:"},
      {"--json --yaml", "1", 2, "vaq-decode: choose one of"},
      {"--xml", "1", 2, "vaq-decode: unknown option --xml\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun run = Decode(c.arguments, c.input);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.substr(0, std::string(c.err).size()), c.err);
  }
  const ToolRun help = Decode("--help", "");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.substr(0, 18), "usage: vaq-decode ");
  EXPECT_EQ(help.err, "");
}

}  // namespace
