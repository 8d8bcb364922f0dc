// libFuzzer target: the request entry of the plug-in's endpoint records,
// called as the host calls it, with a request record spelled by the input.
//
// Input layout (FuzzInput; "text" is a length byte, 255 meaning two more
// length bytes, then the bytes):
//   endpoint byte        index into the API description's endpoint records
//   user data byte       %8: 0-5 that record's, 6 null, 7 the record whose
//                        index the next byte gives
//   method byte          <0x80 GET, <0xF0 byte%10, else a 32-bit code
//   path byte, ...       %8: 0 null, 1 text, 2-3 tag path, 4 data path,
//                        5-6 names path with a query, 7 base + text
//   typed arguments      count byte (%8 == 7: null array, 32-bit count),
//                        then per argument a name byte and a value
//   headers              count byte as above, then name and value bytes
//   content type byte    %8: 0 null, 1-5 known types, 6-7 text
//   body byte            %4: 0 null with a 32-bit length, else text
//                        (3: a shorter length byte follows)
//   caller token         32 bits
//   custom method byte   odd: text, else null
// The response must carry its release function; a failed one an error
// text, a successful one a well-formed body and no error; releasing zeroes
// the record, and releasing it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzed_plugin_host.h"
#include "host_record_builder.h"

namespace vaq::fuzz {
namespace {

constexpr const char* kPublicPath = "/vaq-clubs-public/v1/clubs/public";

// Every byte as "%XX", hex digits in either case.
std::string PercentEncoded(std::string_view text, bool upper) {
  static const char kLower[] = "0123456789abcdef";
  static const char kUpper[] = "0123456789ABCDEF";
  const char* digits = upper ? kUpper : kLower;
  std::string encoded;
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    encoded += '%';
    encoded += digits[byte >> 4];
    encoded += digits[byte & 15];
  }
  return encoded;
}

std::string SummonerIdText(FuzzInput& in) {
  const uint8_t choice = in.Byte();
  switch (choice % 4) {
    case 0:
      return std::to_string(choice / 4 % 8);
    case 1:
      return std::to_string(in.U64());
    case 2:
      return std::string(in.Bytes());
    default:
      return PercentEncoded(std::to_string(choice / 4 % 8), (choice & 0x80) != 0);
  }
}

// "?" and up to three "&"-joined pairs, or nothing unless `forced`.
std::string Query(FuzzInput& in, bool forced) {
  const uint8_t choice = in.Byte();
  if (!forced && choice % 2 == 0) return {};
  std::string query = "?";
  const int pairs = choice / 2 % 4;
  for (int i = 0; i < pairs; ++i) {
    if (i > 0) query += (choice & 0x80) != 0 ? "&&" : "&";
    const uint8_t key = in.Byte();
    switch (key % 4) {
      case 0:
        query += "summonerNames";
        break;
      case 1:
        query += "summonerId";
        break;
      case 2:
        query += in.Bytes();
        break;
      default:
        query += "summonerNames.";
        query += in.Bytes();
        break;
    }
    const uint8_t value = in.Byte();
    if (value % 3 == 0) continue;
    query += '=';
    query += value % 3 == 1 ? std::string(in.Bytes()) : PercentEncoded(in.Bytes(), (value & 0x80) != 0);
  }
  return query;
}

const char* Path(HostRecordBuilder& build) {
  FuzzInput& in = build.input();
  const uint8_t choice = in.Byte();
  switch (choice % 8) {
    case 0:
      return nullptr;
    case 1:
      return build.Text(in.Bytes());
    case 2:
    case 3: {
      std::string path = std::string(kPublicPath) + "/" + SummonerIdText(in) + "/tag";
      return build.Text(path + Query(in, false));
    }
    case 4: {
      std::string path = std::string(kPublicPath) + "/" + SummonerIdText(in);
      return build.Text(path + Query(in, false));
    }
    case 5:
    case 6:
      return build.Text(kPublicPath + Query(in, true));
    default:
      return build.Text(kPublicPath + std::string(in.Bytes()));
  }
}

// A count byte: %8 == 7 a null array with any 32-bit count, else up to
// three entries (an empty one is a null array or, with the high bit, an
// empty array).
template <typename T>
T* Entries(HostRecordBuilder& build, uint32_t* count) {
  const uint8_t choice = build.input().Byte();
  if (choice % 8 == 7) {
    *count = build.input().U32();
    return nullptr;
  }
  *count = choice % 8 % 4;
  if (*count == 0 && (choice & 0x80) == 0) return nullptr;
  return build.Array<T>(*count);
}

HostRequest Request(HostRecordBuilder& build) {
  FuzzInput& in = build.input();
  HostRequest request{};
  const uint8_t method = in.Byte();
  request.method = method < 0x80 ? kMethodGet : method < 0xF0 ? method % 10 : in.U32();
  request.path = Path(build);

  request.typedArguments = Entries<HostTypedArgument>(build, &request.typedArgumentCount);
  for (uint32_t i = 0; request.typedArguments != nullptr && i < request.typedArgumentCount; ++i) {
    HostTypedArgument& argument = request.typedArguments[i];
    const uint8_t name = in.Byte();
    switch (name % 6) {
      case 0:
        argument.name = nullptr;
        break;
      case 1:
        argument.name = "summonerId";
        break;
      case 2:
        argument.name = "summonerNames";
        break;
      case 3:
        argument.name = build.Text(in.Bytes());
        break;
      default:
        argument.name = build.MemberName(nullptr);
        break;
    }
    const uint8_t value = in.Byte();
    switch (value % 4) {
      case 0:
        argument.value = build.Unsigned(value < 0x80 ? value / 4 % 8 : in.U64());
        break;
      case 1:
        argument.value = build.String(in.Bytes());
        break;
      default:
        argument.value = build.FuzzedValue();
        break;
    }
  }

  request.headers = Entries<HostHeader>(build, &request.headerCount);
  for (uint32_t i = 0; request.headers != nullptr && i < request.headerCount; ++i) {
    static const char* const kNames[] = {"summonerid", "summonernames", "SummonerId", "content-type"};
    const uint8_t name = in.Byte();
    request.headers[i].name = name % 6 == 0   ? nullptr
                              : name % 6 == 5 ? build.Text(in.Bytes())
                                              : kNames[name % 6 - 1];
    request.headers[i].value = in.Byte() % 4 == 0 ? nullptr : build.Text(in.Bytes());
  }

  static const char* const kContentTypes[] = {"application/json", "application/x-msgpack",
                                              "application/vnd.api+json", "application/x-yaml",
                                              "Application/JSON; charset=utf-8"};
  const uint8_t contentType = in.Byte() % 8;
  request.contentType = contentType == 0   ? nullptr
                        : contentType <= 5 ? kContentTypes[contentType - 1]
                                           : build.Text(in.Bytes());

  const uint8_t body = in.Byte();
  if (body % 4 == 0) {
    request.body = nullptr;
    request.bodyLength = in.U32();
  } else {
    const std::string_view bytes = in.Bytes();
    request.body = build.Blob(bytes);
    request.bodyLength = static_cast<uint32_t>(bytes.size());
    if (body % 4 == 3) request.bodyLength = std::min<uint32_t>(request.bodyLength, in.Byte());
  }
  request.callerToken = in.U32();
  request.customMethod = in.Byte() % 2 == 1 ? build.Text(in.Bytes()) : nullptr;
  return request;
}

bool IsZero(const HostResponse& response) {
  static const HostResponse kZero{};
  return std::memcmp(&response, &kZero, sizeof response) == 0;
}

}  // namespace
}  // namespace vaq::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vaq::fuzz;
  FuzzedPluginHost& host = FuzzedPluginHost::Get();
  FuzzInput input(data, size);
  HostRecordBuilder build(input);

  // The endpoint byte reaches every endpoint's record.
  const std::vector<const ApiEndpointRecord*> endpoints = host.Endpoints();
  static const bool allAnnounced = [&] {
    std::vector<std::string> templates;
    for (const ApiEndpointRecord* endpoint : endpoints) templates.push_back(endpoint->pathTemplate);
    return templates == std::vector<std::string>{std::string(kPublicPath) + "/{summonerId}/tag",
                                                 std::string(kPublicPath) + "/{summonerId}", kPublicPath};
  }();
  Require(allAnnounced, "the plug-in announces its three endpoints");
  const ApiEndpointRecord* endpoint = endpoints[input.Byte() % endpoints.size()];
  Require(endpoint->requestEntry != nullptr, "an endpoint record has a request entry");
  void* userData = endpoint->userData;
  const uint8_t userDataChoice = input.Byte() % 8;
  if (userDataChoice == 6) userData = nullptr;
  if (userDataChoice == 7) userData = endpoints[input.Byte() % endpoints.size()]->userData;

  HostRequest request = Request(build);
  request.endpointUserData = userData;

  HostResponse response{};
  endpoint->requestEntry(&response, &request);
  Require(response.release != nullptr, "the response carries its release function");
  if (response.failed != 0) {
    Require(response.error != nullptr && response.error[0] != '\0', "a failed response carries an error text");
  } else {
    Require(response.error == nullptr, "a successful response carries no error");
    RequireProducedValue(response.body);
  }
  Require(response.headerCount == 0 || response.headers != nullptr, "response headers are present");
  for (uint32_t i = 0; i < response.headerCount; ++i) {
    Require(response.headers[i].name != nullptr && response.headers[i].value != nullptr, "a header is complete");
  }
  // A body stream is the host's to close; the release function leaves it.
  if (response.stream != nullptr) {
    Require(response.streamClose != nullptr, "a body stream can be closed");
    response.streamClose(response.stream);
  }
  const HostResponseRelease release = response.release;
  release(&response);
  Require(IsZero(response), "release zeroes the response");
  release(&response);
  Require(IsZero(response), "a second release changes nothing");
  return 0;
}
