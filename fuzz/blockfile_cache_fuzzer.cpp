// A whole blockfile cache held in memory: index and hash chains, block-file headers and bitmaps,
// entry and rankings records, keys, streams, sparse headers and the response info they lead to.
#include <cstddef>
#include <cstdint>

#include "BlockfileFuzzInput.h"
#include "cache/browser/EntryFileName.h"
#include "cache/browser/HttpResponse.h"
#include "cache/chromium/blockfile/BlockfileReader.h"
#include "cache/chromium/common/ChromiumResponseInfo.h"

using namespace blockfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryFiles files(blockfile_fuzz::Unframe(data, size));
  Reader reader(files);
  if (!reader.OpenIndex()) return 0;
  reader.ForEachEntry([&](const EntryView& entry) {
    const auto key = reader.ReadKey(entry);
    if (!key) return;
    if (const auto stream0 = reader.ReadStream(entry.record, 0, 1 << 20)) {
      if (const auto info = ParseResponseInfo(*stream0)) {
        if (const auto response = ParseNulSeparatedHeaders(info->headerBlock)) {
          const std::string* type = response->Find("Content-Type");
          EntryFileName(UrlFromSimpleKey(*key), type ? *type : std::string());
          AnnouncedResourceLength(*response);
        }
      }
    }
    if (const auto body = reader.ReadStream(entry.record, 1, 1 << 20)) {
      if (!body->empty() && entry.record.dataSize[1] != static_cast<std::int32_t>(body->size())) __builtin_trap();
    }
    if (const auto sparse = reader.ReadStream(entry.record, 2, 1024)) ParseSparseHeader(*sparse);
    const auto again = reader.FindEntry(*key);
    if (again && again->record.hash != entry.record.hash) __builtin_trap();
  });
  return 0;
}
