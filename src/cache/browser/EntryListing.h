#pragma once
// The last step of parsing an entry, the same for every browser: from its URL, response and body
// pieces, decide whether it is listed and fill in the entry that the harvest sees.
#include <cstdint>
#include <string>

#include "cache/browser/HttpResponse.h"
#include "cache/browser/ParsedEntry.h"

// parsed's id, files (below folder), stamps, bodyFile and pieces must be set; storedLength is the
// body length the pieces hold. Sets listed, codings, url, contentType and size. An encoded body is
// decoded once here to learn its size (and whether it decodes at all).
void FinishEntry(ParsedEntry& parsed, const std::string& folder, const std::string& url, const HttpResponse& response,
                 std::uint64_t storedLength);
