#pragma once
// What a browser cache source learned of one entry from its files: whether it is listed, the
// entry as the harvest sees it, and where its body lies. Kept across passes while the files it
// came from keep their stamps.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/CacheTime.h"
#include "cache/browser/BodyDecoder.h"
#include "cache/browser/FileStamp.h"

// The stamps of the (at most two) files an entry is read from.
struct StampSet {
  std::array<FileStamp, 2> stamps{};
  std::uint8_t count = 0;
  // For an entry kept in files that it shares with other entries (whose stamps change with every
  // write to any of them): a digest of the records that place the entry, so that an entry
  // rewritten in place is told from the one parsed.
  std::uint64_t records = 0;
  void Add(const FileStamp& stamp) {
    if (count < stamps.size()) stamps[count++] = stamp;
  }
  bool operator==(const StampSet& other) const {
    if (count != other.count || records != other.records) return false;
    for (std::uint8_t i = 0; i < count; ++i) {
      if (!(stamps[i] == other.stamps[i])) return false;
    }
    return true;
  }
};

// A body piece with this file index lies in the entry's body file.
inline constexpr std::size_t kEntryBodyFile = SIZE_MAX;

// A run of stored body bytes in one of the entry's files with the checksum the browser kept for it.
struct BodyPiece {
  enum class Check : std::uint8_t { None, Crc32, Lookup2Low16 };
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  Check check = Check::None;
  std::uint32_t expected = 0;
  std::uint64_t skip = 0;             // leading bytes of the piece that are checked but not part of the body
  std::size_t file = kEntryBodyFile;  // index into ParsedEntry::files
};

// Tells whether an entry is still the one parsed, for sources whose entries share files that
// change as a whole (stamps say nothing there): asked before a copy starts and after it ended.
class EntryCheck {
 public:
  virtual ~EntryCheck() = default;
  virtual bool StillHolds() const = 0;
};

struct ParsedEntry {
  bool listed = false;  // a complete entry with a body: it appears in the enumeration
  // True when the entry's first file is the one its id names (a file per entry); its other files
  // are then in files.
  bool idIsFile = false;
  // True when size is what a gzip body's trailer states rather than what decoding it gave; the
  // copy, which decodes it, finds out whether it holds.
  bool sizeFromTrailer = false;
  std::uint32_t bodyFile = 0;  // the index of the file holding the body (see File)
  // What the listing yields of it. Only what the harvest reads is kept, and no text twice: the
  // name is made again from the URL and the Content-Type when it is asked for, and the extension
  // is the name's. Times are FILETIME values; lastAccess as the files give it.
  std::uint32_t useCount = 0;
  std::string url;
  // The entry's id: its path below the cache folder. Its local path is the id, a separator and its
  // name, below the cache folder (the cursor puts the folder in front).
  std::string id;
  std::string contentType;  // the Content-Type header's value; empty when there is none
  std::uint64_t size = 0;   // bytes a copy writes
  CacheFileTime lastModified;
  CacheFileTime expire;
  CacheFileTime lastAccess;
  CacheFileTime lastSync;

  // The file name of its virtual path; empty while it is not listed.
  std::string Name() const;

  // The files it was read from, below the cache folder: the id's file first when idIsFile, then
  // those in files. The first stamps.count of them carry the stamps in stamps.stamps; any others
  // are covered by check.
  std::size_t FileCount() const { return (idIsFile ? 1 : 0) + (files ? files->size() : 0); }
  std::string_view File(std::size_t index) const {
    if (idIsFile) {
      if (index == 0) return id;
      --index;
    }
    return (*files)[index];
  }
  void AddFile(std::string file) {
    if (!files) files = std::make_unique<std::vector<std::string>>();
    files->push_back(std::move(file));
  }
  std::unique_ptr<std::vector<std::string>> files;  // null while there are none (most entries)
  StampSet stamps;
  std::vector<BodyPiece> pieces;  // in body order
  // The content codings to undo, in the order the server applied them; null for none (nearly
  // every entry), so that an entry does not carry an empty vector.
  std::unique_ptr<const std::vector<ContentCoding>> codings;
  std::shared_ptr<const EntryCheck> check;  // null: the stamps alone decide

  // The context under which the harvest's decision on this entry was settled, and the last-use
  // time it was settled with (which may change without the entry's files changing); kept here so
  // that it goes with the entry as long as the entry's files stay as parsed.
  mutable std::uint64_t settledContext = 0;
  mutable std::uint64_t settledLastAccess = 0;
};
