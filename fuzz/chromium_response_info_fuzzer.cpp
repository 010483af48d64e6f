// Stream 0 alone: the pickled response info and the header block inside it.
#include <cstddef>
#include <cstdint>

#include "cache/browser/HttpResponse.h"
#include "cache/chromium/simple/SimpleCacheFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto info = ParseResponseInfo(Bytes(data, size));
  if (!info) return 0;
  if (const auto response = ParseNulSeparatedHeaders(info->headerBlock)) {
    response->HeaderText();
    AnnouncedResourceLength(*response);
    IsWholeResponse(*response, size);
  }
  return 0;
}
