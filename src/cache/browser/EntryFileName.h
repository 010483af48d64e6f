#pragma once
// The file name under which a cache entry appears: taken from its URL, with an extension from its
// Content-Type when the URL gives none.
#include <string>
#include <string_view>

// The usual extension of a media type ("image/jpeg" gives "jpg"); empty when it has none we know.
// Parameters ("; charset=...") and letter case are ignored.
std::string ExtensionForContentType(std::string_view contentType);

// The last path segment of url with the query and fragment dropped, percent-decoded, made safe
// as a file name; "index" when the path ends in "/" or is empty. When that name has no extension,
// the one for contentType is added.
std::string EntryFileName(std::string_view url, std::string_view contentType);

// True for http: and https: URLs, the only ones that name web resources.
bool IsWebUrl(std::string_view url);
