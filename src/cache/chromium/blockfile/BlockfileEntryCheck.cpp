#include "cache/chromium/blockfile/BlockfileEntryCheck.h"

#include "base/PathText.h"

namespace blockfile {

EntryPin PinOf(const EntryView& entry) {
  EntryPin pin;
  pin.address = entry.address;
  pin.hash = entry.record.hash;
  pin.rankings = entry.record.rankings;
  pin.keyLength = entry.record.keyLength;
  pin.longKey = entry.record.longKey;
  for (std::size_t i = 0; i < pin.dataSize.size(); ++i) {
    pin.dataSize[i] = entry.record.dataSize[i];
    pin.dataAddress[i] = entry.record.dataAddress[i];
  }
  pin.flags = entry.record.flags;
  pin.creationTime = entry.record.creationTime;
  pin.clean = entry.rankings.dirty == 0 && entry.record.state == 0;
  return pin;
}

std::uint64_t DigestOf(std::span<const EntryPin> pins) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the fields, 32 bits at a time
  auto mix = [&hash](std::uint32_t value) {
    for (int i = 0; i < 4; ++i) hash = (hash ^ ((value >> (8 * i)) & 0xFFu)) * 1099511628211ull;
  };
  for (const EntryPin& pin : pins) {
    mix(pin.address.Value());
    mix(pin.hash);
    mix(pin.rankings.Value());
    mix(static_cast<std::uint32_t>(pin.keyLength));
    mix(pin.longKey.Value());
    for (std::size_t i = 0; i < pin.dataSize.size(); ++i) {
      mix(static_cast<std::uint32_t>(pin.dataSize[i]));
      mix(pin.dataAddress[i].Value());
    }
    mix(pin.flags);
    mix(static_cast<std::uint32_t>(pin.creationTime));
    mix(static_cast<std::uint32_t>(pin.creationTime >> 32));
    mix(pin.clean ? 1 : 0);
  }
  return hash;
}

bool PinnedEntryCheck::StillHolds() const {
  FolderFiles files(folder_);
  Reader reader(files, false);
  for (const EntryPin& pin : pins_) {
    const auto entry = reader.ReadEntry(pin.address);
    if (!entry || !(PinOf(*entry) == pin) || !pin.clean) return false;
    for (int stream = 0; stream < 3; ++stream) {
      if (entry->record.dataSize[static_cast<std::size_t>(stream)] != 0 && !reader.PlaceStream(entry->record, stream)) {
        return false;
      }
    }
  }
  for (const auto& [path, stamp] : separateFiles_) {
    const auto now = StampOfPath(path);
    if (!now || !(*now == stamp)) return false;
  }
  return true;
}

}  // namespace blockfile
