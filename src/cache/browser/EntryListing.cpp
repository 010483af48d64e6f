#include "cache/browser/EntryListing.h"

#include "base/PathText.h"
#include "cache/browser/EntryBody.h"
#include "cache/browser/EntryFileName.h"

namespace {

// True for the media types of scripts, styles, pages and data: what most gzip-coded bodies are,
// and what no one collects as pictures. Only their sizes are taken from the trailer: a body of
// several members whose earlier ones are small looks like one member and states too small a size,
// which could make the entry fail a minimum size before any copy decodes it.
bool IsTextLike(std::string_view contentType) {
  std::string type = LowerCaseAscii(std::string(contentType.substr(0, contentType.find(';'))));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.erase(0, 1);
  if (type.starts_with("text/")) return true;
  for (const char* known :
       {"application/javascript", "application/x-javascript", "application/ecmascript", "application/json",
        "application/manifest+json", "application/xml", "application/xhtml+xml", "application/wasm"}) {
    if (type == known) return true;
  }
  return false;
}

// The size a body coded with gzip alone states in its trailer (the decoded length modulo 2^32),
// when that can be read without decoding and is plausible for one gzip member of storedLength
// bytes. Several members state only the last one's length, so a body larger than one member of
// that length could take is decoded; so is one too small to expand that far (deflate expands at
// most about 1032 times) or a size past the cap, which decoding refuses.
std::optional<std::uint64_t> SizeStatedByTrailer(const ParsedEntry& parsed, const std::string& folder,
                                                 std::uint64_t storedLength, ByteSource* bodyFile) {
  const std::vector<ContentCoding>& codings = parsed.Codings();
  if (codings.size() != 1 || codings.front() != ContentCoding::Gzip || !IsTextLike(parsed.ContentType())) {
    return std::nullopt;
  }
  constexpr std::uint64_t kGzipFraming = 18;  // the smallest header and the trailer
  if (storedLength <= kGzipFraming) return std::nullopt;
  const auto stated = ReadBodyTail(parsed, folder, bodyFile);
  if (!stated || *stated == 0) return std::nullopt;
  const std::uint64_t size = *stated;
  const std::uint64_t deflated = storedLength - kGzipFraming;
  // Stored blocks add 5 bytes per block of up to 64 KiB; fixed codes at most one bit in eight. A
  // header with a name or a comment may add more: such a body is decoded, which costs only time.
  const bool fitsOneMember = deflated <= size + size / 8 + 256;
  const bool expandsThatFar = size <= deflated * 1040;
  if (!fitsOneMember || !expandsThatFar || size > kLargestDecodedBody) return std::nullopt;
  return size;
}

}  // namespace

void FinishEntry(ParsedEntry& parsed, const std::string& folder, const std::string& url, const HttpResponse& response,
                 std::uint64_t storedLength, ByteSource* bodyFile) {
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
  parsed.sizeFromTrailer = false;
  if (codings->empty()) {
    parsed.size = storedLength;
  } else {
    parsed.Extras().codings = *codings;
    if (const auto stated = SizeStatedByTrailer(parsed, folder, storedLength, bodyFile)) {
      parsed.size = *stated;
      parsed.sizeFromTrailer = true;
    } else {
      const BodyResult decoded = StreamEntryBody(
          parsed, folder, [](const char*, std::size_t) { return true; }, nullptr);
      if (decoded.outcome != BodyOutcome::Written || decoded.written == 0) return;
      parsed.size = decoded.written;
    }
  }
  parsed.listed = true;
}

ParsedEntryRef WithDecodedSize(const ParsedEntry& parsed, std::uint64_t size) {
  auto copy = CountedRef<ParsedEntry>::Make();
  copy->lastModified = parsed.lastModified;
  copy->expire = parsed.expire;
  copy->lastAccess = parsed.lastAccess;
  copy->lastSync = parsed.lastSync;
  copy->useCount = parsed.useCount;
  copy->bodyFile = parsed.bodyFile;
  copy->listed = parsed.listed;
  copy->idIsFile = parsed.idIsFile;
  copy->stamps = parsed.stamps;
  copy->pieces = std::vector<BodyPiece>(parsed.pieces.begin(), parsed.pieces.end());
  copy->text.Set(parsed.Url(), parsed.Id(), parsed.ContentType());
  if (parsed.extras) copy->extras = std::make_unique<EntryExtras>(*parsed.extras);
  // What the harvest settled was settled on the size that did not hold.
  copy->size = size;
  copy->sizeFromTrailer = false;
  return copy;
}

std::string ParsedEntry::Name() const { return listed ? EntryFileName(Url(), ContentType()) : std::string(); }
