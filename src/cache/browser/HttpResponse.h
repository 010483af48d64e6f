#pragma once
// The stored HTTP response of a cache entry: status and header fields, and the rule that says
// whether a body of a given length is the whole resource.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpResponse {
  int status = 0;
  std::string statusLine;
  std::vector<std::pair<std::string, std::string>> fields;  // names as the server spelled them

  // The value of the first field of that name, compared without regard to ASCII case; null when absent.
  const std::string* Find(std::string_view name) const;
  // The status line and the fields, each line ended by CR LF, then an empty line.
  std::string HeaderText() const;
};

// Chromium's raw header block: lines ended by NUL, the block ended by an extra NUL.
std::optional<HttpResponse> ParseNulSeparatedHeaders(std::string_view block);
// Firefox's response-head: lines ended by CR LF (a bare LF is accepted too).
std::optional<HttpResponse> ParseCrlfHeaders(std::string_view text);

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::optional<std::uint64_t> total;  // empty for "*"
};
// "bytes first-last/total"; empty when the value is not of that form.
std::optional<ContentRange> ParseContentRange(std::string_view value);
// A decimal length; empty when the value is not one.
std::optional<std::uint64_t> ParseDecimal(std::string_view value);

// True when storedLength bytes are the whole resource of this response: a 200 whose body is not
// empty and matches Content-Length when there is one, or a 206 whose Content-Range runs from 0
// to the end of a resource of exactly storedLength bytes.
bool IsWholeResponse(const HttpResponse& response, std::uint64_t storedLength);

// The length of the whole resource that a response announces for data kept apart from it (a 206
// with a Content-Range total, or a 200 with Content-Length); empty when it announces none.
std::optional<std::uint64_t> AnnouncedResourceLength(const HttpResponse& response);
