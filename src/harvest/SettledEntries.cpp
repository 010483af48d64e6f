#include "harvest/SettledEntries.h"

namespace settled_entries {

namespace {

void Mix(std::uint64_t& hash, const void* data, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ULL;  // FNV-1a
  }
}

template <typename T>
void MixValue(std::uint64_t& hash, T value) {
  Mix(hash, &value, sizeof value);
}

}  // namespace

std::uint64_t ContextFor(std::uint64_t capture, const std::string& extensionList, std::int32_t minimumSizeKb,
                         const DateValue& captureStart, bool lastPassEndedByError) {
  if (lastPassEndedByError) return 0;
  std::uint64_t hash = 14695981039346656037ULL;
  MixValue(hash, capture);
  MixValue(hash, extensionList.size());
  Mix(hash, extensionList.data(), extensionList.size());
  MixValue(hash, minimumSizeKb);
  MixValue(hash, captureStart.Seconds());
  MixValue(hash, platform_time::CurrentUtcOffsetSeconds());
  return hash == 0 ? 1 : hash;
}

}  // namespace settled_entries
