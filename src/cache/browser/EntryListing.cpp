#include "cache/browser/EntryListing.h"

#include "cache/browser/EntryBody.h"
#include "cache/browser/EntryFileName.h"

void FinishEntry(ParsedEntry& parsed, const std::string& url, const HttpResponse& response,
                 std::uint64_t storedLength) {
  parsed.listed = false;
  if (!IsWebUrl(url) || storedLength == 0) return;
  const std::string* contentType = response.Find("Content-Type");
  parsed.name = EntryFileName(url, contentType ? *contentType : std::string());
  parsed.entry.url = url;
  // Of the response headers only the media type is kept: a copy is marked with it, and the rest
  // would be most of what is kept per entry.
  if (contentType) parsed.entry.headers = "Content-Type: " + *contentType + "\r\n";
  parsed.entry.type = 1;  // an ordinary cache entry
  const std::size_t dot = parsed.name.rfind('.');
  parsed.entry.extension = dot == std::string::npos ? std::string() : parsed.name.substr(dot + 1);

  const std::string* encoding = response.Find("Content-Encoding");
  const auto codings = ParseContentEncoding(encoding ? *encoding : std::string());
  if (!codings) return;  // a coding we cannot undo: the stored bytes are not the file
  parsed.codings = *codings;
  if (parsed.codings.empty()) {
    parsed.entry.size = storedLength;
  } else {
    const BodyResult decoded = StreamEntryBody(
        parsed, [](const char*, std::size_t) { return true; }, nullptr);
    if (decoded.outcome != BodyOutcome::Written || decoded.written == 0) return;
    parsed.entry.size = decoded.written;
  }
  parsed.listed = true;
}
