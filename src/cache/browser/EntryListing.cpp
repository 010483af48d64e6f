#include "cache/browser/EntryListing.h"

#include "base/PathText.h"
#include "cache/browser/EntryBody.h"
#include "cache/browser/EntryFileName.h"

void FinishEntry(ParsedEntry& parsed, const std::string& folder, const std::string& url, const HttpResponse& response,
                 std::uint64_t storedLength) {
  parsed.listed = false;
  if (!IsWebUrl(url) || storedLength == 0) return;
  const std::string* contentType = response.Find("Content-Type");
  // Of the response headers only the media type is kept: a copy is marked with it, and the rest
  // would be most of what is kept per entry.
  parsed.SetUrl(url, contentType ? std::string_view(*contentType) : std::string_view());

  const std::string* encoding = response.Find("Content-Encoding");
  const auto codings = ParseContentEncoding(encoding ? *encoding : std::string());
  if (!codings) return;  // a coding we cannot undo: the stored bytes are not the file
  if (parsed.extras) parsed.extras->codings.clear();
  if (codings->empty()) {
    parsed.size = storedLength;
  } else {
    parsed.Extras().codings = *codings;
    const BodyResult decoded = StreamEntryBody(
        parsed, folder, [](const char*, std::size_t) { return true; }, nullptr);
    if (decoded.outcome != BodyOutcome::Written || decoded.written == 0) return;
    parsed.size = decoded.written;
  }
  parsed.listed = true;
}

std::string ParsedEntry::Name() const { return listed ? EntryFileName(Url(), ContentType()) : std::string(); }
