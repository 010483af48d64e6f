#pragma once
// Streaming an entry's body out of its cache file: every piece read and checked, the content
// coding undone, and the file checked to be the one that was parsed, before and after.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/VirtualFiles.h"
#include "cache/browser/ParsedEntry.h"

class ByteSource;

enum class BodyOutcome {
  Written,       // the whole body went to the sink
  EntryChanged,  // a file is gone or no longer the one that was parsed: parse it again
  CheckFailed,   // a checksum, the decoding or the size did not hold: the entry is corrupt
  SizeDiffers,   // the body decoded whole, but not to the expected size: written is its size
  SinkRefused,   // the receiver stopped the copy
};

struct BodyResult {
  BodyOutcome outcome = BodyOutcome::EntryChanged;
  std::uint64_t written = 0;  // decoded bytes delivered
};

// Receives stored bytes; false stops the delivery (the receiver refused them).
using StoredBytesFeed = std::function<bool(const std::uint8_t* data, std::size_t length)>;

class StoredBody {
 public:
  virtual ~StoredBody() = default;
  // Feeds every stored byte of the body, in order, to feed, each part checked before it is fed.
  // Written when all went to feed; EntryChanged when the entry is no longer the one parsed (or
  // cannot be read now); CheckFailed when a part fails its check; SinkRefused when feed said false.
  virtual BodyOutcome Deliver(const StoredBytesFeed& feed) const = 0;
  // The last four stored bytes as a little-endian number when they are known without a read.
  virtual std::optional<std::uint32_t> LastFourBytes() const { return std::nullopt; }
};

// True when the stamped files of parsed (below folder) still carry their stamps and its check, if
// any, holds.
bool EntryStillHolds(const ParsedEntry& parsed, const std::string& folder);

// Writes the body of parsed, whose files lie below folder, to sink. With expectedSize, a body that
// decodes whole to another size is SizeDiffers (CheckFailed when it has no coding to undo).
BodyResult StreamEntryBody(const ParsedEntry& parsed, const std::string& folder, const ByteSink& sink,
                           const std::uint64_t* expectedSize);

// The last four stored bytes of the body of parsed as a little-endian number, read from the file
// that holds them (which must still carry its stamp); empty when they cannot be read so. bodyFile,
// when given, is the entry's body file as its reader opened and stamped it, read instead of
// opening the file again.
std::optional<std::uint32_t> ReadBodyTail(const ParsedEntry& parsed, const std::string& folder,
                                          ByteSource* bodyFile = nullptr);

// Bob Jenkins' lookup2 hash (initial value 0), the checksum of Firefox cache entries.
std::uint32_t Lookup2Hash(const std::uint8_t* data, std::size_t length, std::uint32_t initial = 0);
