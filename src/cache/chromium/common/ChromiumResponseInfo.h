#pragma once
// What the Chromium-family disk caches keep of a response, the same in the simple and the
// blockfile format: the pickled response info of stream 0, and the entry key that names the URL.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cache/browser/ByteReading.h"

struct ResponseInfo {
  std::uint32_t flags = 0;
  bool truncated = false;         // only the first part of the body was kept
  std::string_view headerBlock;   // "HTTP/1.1 200 OK\0Name: value\0...\0\0", a view into the parsed bytes
  std::int64_t responseTime = 0;  // microseconds since 1601, 0 when unknown
};
// Stream 0: the pickled response info. Empty when no header block can be found in it.
std::optional<ResponseInfo> ParseResponseInfo(Bytes stream0);

// The resource URL of an entry key ("1/0/_dk_site site url" or "1/0/url"); empty when the key
// holds none.
std::string UrlFromSimpleKey(std::string_view key);
