// A whole "_0" entry file: layout, response info, headers, key.
#include <cstddef>
#include <cstdint>

#include "cache/browser/EntryFileName.h"
#include "cache/browser/HttpResponse.h"
#include "cache/chromium/simple/SimpleCacheFormat.h"
#include "cache/chromium/simple/SimpleEntryReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryByteSource file(Bytes(data, size));
  const auto layout = ReadSimpleEntry(file);
  if (!layout) return 0;
  const std::string url = UrlFromSimpleKey(layout->key);
  const auto info = ParseResponseInfo(layout->stream0);
  if (!info) return 0;
  if (const auto response = ParseNulSeparatedHeaders(info->headerBlock)) {
    IsWholeResponse(*response, layout->bodyLength);
    const std::string* type = response->Find("Content-Type");
    EntryFileName(url, type ? *type : std::string());
  }
  return 0;
}
