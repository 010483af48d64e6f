#pragma once
// The last step of parsing an entry, the same for every browser: from its URL, response and body
// pieces, decide whether it is listed and fill in the entry that the harvest sees.
#include <cstdint>
#include <memory>
#include <string>

#include "cache/browser/HttpResponse.h"
#include "cache/browser/ParsedEntry.h"

class ByteSource;

// parsed's id, files (below folder), stamps, bodyFile and pieces must be set; storedLength is the
// body length the pieces hold. Sets listed, codings, url, contentType, size and sizeFromTrailer. A
// gzip body is sized by its trailer where that is plausible (the copy checks it); any other
// encoded body is decoded once here to learn its size (and whether it decodes at all). bodyFile,
// when given, is the entry's body file as the reader opened it: a trailer is read from it.
void FinishEntry(ParsedEntry& parsed, const std::string& folder, const std::string& url, const HttpResponse& response,
                 std::uint64_t storedLength, ByteSource* bodyFile = nullptr);

// A copy of parsed whose size is the one its decoding gave, for an entry whose trailer stated
// another; nothing of what the harvest settled on the old size goes with it.
ParsedEntryRef WithDecodedSize(const ParsedEntry& parsed, std::uint64_t size);
