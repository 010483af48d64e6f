#pragma once
// What a browser cache source learned of one entry from its files: whether it is listed, the
// entry as the harvest sees it, and where its body lies. Kept across passes while the files it
// came from keep their stamps.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/CacheTime.h"
#include "cache/browser/BodyDecoder.h"
#include "cache/browser/FileStamp.h"

// A counted reference to an object that keeps its own count (a mutable std::atomic<std::uint32_t>
// named references), so that the many small objects a listing holds carry no separate control
// block and each reference is one pointer. The object is deleted with its last reference.
template <typename T>
class CountedRef {
 public:
  CountedRef() = default;
  CountedRef(std::nullptr_t) {}
  CountedRef(const CountedRef& other) : object_(other.object_) { Acquire(); }
  CountedRef(CountedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  template <typename U>
  requires std::is_convertible_v<U*, T*> CountedRef(const CountedRef<U>& other) : object_(other.get()) { Acquire(); }
  template <typename U>
  requires std::is_convertible_v<U*, T*> CountedRef(CountedRef<U>&& other)
  noexcept : object_(other.Release()) {}
  ~CountedRef() { reset(); }
  CountedRef& operator=(CountedRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }

  // A new object, with this its only reference.
  template <typename... Args>
  static CountedRef Make(Args&&... args) {
    CountedRef made;
    made.object_ = new T(std::forward<Args>(args)...);
    made.Acquire();
    return made;
  }

  T* get() const { return object_; }
  T& operator*() const { return *object_; }
  T* operator->() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void reset() {
    if (object_ && object_->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object_;
    object_ = nullptr;
  }
  // Gives up the reference without counting it down (for a conversion that takes it over).
  T* Release() { return std::exchange(object_, nullptr); }

 private:
  void Acquire() {
    if (object_) object_->references.fetch_add(1, std::memory_order_relaxed);
  }
  T* object_ = nullptr;
};

// The stamps of the (at most two) files an entry is read from, and for an entry kept in files that
// it shares with other entries (whose stamps change with every write to any of them) a digest of
// the records that place the entry, so that an entry rewritten in place is told from the one
// parsed. What few entries have (a second stamp, a digest) is kept apart.
struct StampSet {
  StampSet() = default;
  StampSet(const StampSet& other) { *this = other; }
  StampSet& operator=(const StampSet& other) {
    if (this == &other) return *this;
    first_ = other.first_;
    rare_ = other.rare_ ? std::make_unique<Rare>(*other.rare_) : nullptr;
    count = other.count;
    return *this;
  }

  std::uint8_t count = 0;  // of stamps

  const FileStamp& operator[](std::size_t index) const { return index == 0 ? first_ : rare_->second; }
  void Add(const FileStamp& stamp) {
    if (count == 0) first_ = stamp;
    if (count == 1) TheRare().second = stamp;
    if (count < 2) ++count;
  }
  std::uint64_t Records() const { return rare_ ? rare_->records : 0; }
  void SetRecords(std::uint64_t records) { TheRare().records = records; }

  bool operator==(const StampSet& other) const {
    if (count != other.count || Records() != other.Records()) return false;
    for (std::uint8_t i = 0; i < count; ++i) {
      if (!((*this)[i] == other[i])) return false;
    }
    return true;
  }

 private:
  struct Rare {
    FileStamp second;
    std::uint64_t records = 0;
  };
  Rare& TheRare() {
    if (!rare_) rare_ = std::make_unique<Rare>();
    return *rare_;
  }
  FileStamp first_;
  std::unique_ptr<Rare> rare_;
};

// A body piece with this file index lies in the entry's body file.
inline constexpr std::uint32_t kEntryBodyFile = UINT32_MAX;

// A run of stored body bytes in one of the entry's files with the checksum the browser kept for it.
struct BodyPiece {
  enum class Check : std::uint8_t { None, Crc32, Lookup2Low16 };
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t skip = 0;  // leading bytes of the piece that are checked but not part of the body
  std::uint32_t expected = 0;
  std::uint32_t file = kEntryBodyFile;  // index into the entry's files (see ParsedEntry::File)
  Check check = Check::None;
};

// An entry's body pieces in body order: the usual single piece is kept in place, more in a vector.
// A piece in place is never empty (an empty one goes to the vector), so its length tells whether
// there is one.
class BodyPieces {
 public:
  BodyPieces() = default;
  BodyPieces(std::vector<BodyPiece> pieces) { *this = std::move(pieces); }
  BodyPieces& operator=(std::vector<BodyPiece> pieces) {
    first_ = {};
    more_.reset();
    if (pieces.size() == 1 && pieces.front().length > 0) {
      first_ = pieces.front();
    } else if (!pieces.empty()) {
      more_ = std::make_unique<std::vector<BodyPiece>>(std::move(pieces));
    }
    return *this;
  }
  void push_back(const BodyPiece& piece) {
    if (empty() && piece.length > 0) {
      first_ = piece;
      return;
    }
    if (!more_) more_ = std::make_unique<std::vector<BodyPiece>>(begin(), end());
    more_->push_back(piece);
    first_ = {};
  }
  bool empty() const { return size() == 0; }
  std::size_t size() const { return more_ ? more_->size() : (first_.length > 0 ? 1 : 0); }
  const BodyPiece* begin() const { return more_ ? more_->data() : &first_; }
  const BodyPiece* end() const { return begin() + size(); }

 private:
  BodyPiece first_;
  std::unique_ptr<std::vector<BodyPiece>> more_;  // all pieces when there are two or more
};

// The URL, the id and the Content-Type of an entry, in one allocation that starts with their
// lengths.
class EntryText {
 public:
  std::string_view Url() const { return Part(0); }
  std::string_view Id() const { return Part(1); }
  std::string_view ContentType() const { return Part(2); }
  void Set(std::string_view url, std::string_view id, std::string_view contentType) {
    const Lengths lengths{static_cast<std::uint32_t>(url.size()), static_cast<std::uint32_t>(id.size()),
                          static_cast<std::uint32_t>(contentType.size())};
    auto text = std::make_unique<char[]>(sizeof lengths + url.size() + id.size() + contentType.size());
    std::memcpy(text.get(), &lengths, sizeof lengths);
    char* at = text.get() + sizeof lengths;
    for (std::string_view part : {url, id, contentType}) at = std::copy(part.begin(), part.end(), at);
    text_ = std::move(text);
  }

 private:
  using Lengths = std::array<std::uint32_t, 3>;
  std::string_view Part(std::size_t index) const {
    if (!text_) return {};
    Lengths lengths;
    std::memcpy(&lengths, text_.get(), sizeof lengths);
    std::size_t from = sizeof lengths;
    for (std::size_t i = 0; i < index; ++i) from += lengths[i];
    return {text_.get() + from, lengths[index]};
  }
  std::unique_ptr<char[]> text_;
};

// Tells whether an entry is still the one parsed, for sources whose entries share files that
// change as a whole (stamps say nothing there): asked before a copy starts and after it ended.
class EntryCheck {
 public:
  virtual ~EntryCheck() = default;
  virtual bool StillHolds() const = 0;
};

// A body kept where plain reads of the entry's files cannot reach it (rows of a database): it
// delivers its stored bytes itself, each part checked, in body order (cache/browser/EntryBody.h).
class StoredBody;

// What an entry rarely has: files beside the one its id names, content codings, a check of its
// own, a body stored outside plain files. Kept apart so that the usual entry does not carry them.
struct EntryExtras {
  std::vector<std::string> files;
  std::vector<ContentCoding> codings;  // to undo, in the order the server applied them
  std::shared_ptr<const EntryCheck> check;
  std::shared_ptr<const StoredBody> stored;  // null: the body lies in the pieces
};

struct ParsedEntry {
  // What the listing yields of it. Only what the harvest reads is kept, and no text twice: the
  // name is made again from the URL and the Content-Type when it is asked for, and the extension
  // is the name's. Times are FILETIME values; lastAccess as the files give it.
  CacheFileTime lastModified;
  CacheFileTime expire;
  CacheFileTime lastAccess;
  CacheFileTime lastSync;
  std::uint64_t size = 0;  // bytes a copy writes
  std::uint32_t useCount = 0;
  std::uint8_t bodyFile = 0;  // the index of the file holding the body (see File)
  bool listed = false;        // a complete entry with a body: it appears in the enumeration
  // True when the entry's first file is the one its id names (a file per entry); its other files
  // are then in the extras.
  bool idIsFile = false;
  // True when size is what a gzip body's trailer states rather than what decoding it gave; the
  // copy, which decodes it, finds out whether it holds.
  bool sizeFromTrailer = false;
  mutable std::atomic<std::uint32_t> references = 0;  // for CountedRef

  // The URL, the id (the entry's path below the cache folder; its local path is the id, a
  // separator and its name, below the cache folder) and the Content-Type header's value (empty when
  // there is none).
  std::string_view Url() const { return text.Url(); }
  std::string_view Id() const { return text.Id(); }
  std::string_view ContentType() const { return text.ContentType(); }
  void SetId(std::string_view id) { text.Set({}, id, {}); }
  void SetUrl(std::string_view url, std::string_view contentType) { text.Set(url, Id(), contentType); }

  // The file name of its virtual path; empty while it is not listed.
  std::string Name() const;

  // The files it was read from, below the cache folder: the id's file first when idIsFile, then
  // the further ones. The first stamps.count of them carry the stamps in stamps; any others
  // are covered by Check().
  std::size_t FileCount() const { return (idIsFile ? 1 : 0) + (extras ? extras->files.size() : 0); }
  std::string_view File(std::size_t index) const {
    if (idIsFile) {
      if (index == 0) return Id();
      --index;
    }
    return extras->files[index];
  }
  void AddFile(std::string file) { Extras().files.push_back(std::move(file)); }
  // The content codings to undo; empty for none (nearly every entry).
  const std::vector<ContentCoding>& Codings() const { return extras ? extras->codings : kNoCodings; }
  const EntryCheck* Check() const { return extras ? extras->check.get() : nullptr; }  // null: the stamps alone decide
  const StoredBody* Stored() const { return extras ? extras->stored.get() : nullptr; }
  EntryExtras& Extras() {
    if (!extras) extras = std::make_unique<EntryExtras>();
    return *extras;
  }

  StampSet stamps;
  BodyPieces pieces;  // in body order
  EntryText text;
  std::unique_ptr<EntryExtras> extras;  // null while there are none (most entries)

  // The context under which the harvest's decision on this entry was settled, and the last-use
  // time it was settled with (which may change without the entry's files changing); kept here so
  // that it goes with the entry as long as the entry's files stay as parsed.
  mutable std::uint64_t settledContext = 0;
  mutable std::uint64_t settledLastAccess = 0;

 private:
  static inline const std::vector<ContentCoding> kNoCodings;
};

using ParsedEntryRef = CountedRef<const ParsedEntry>;
