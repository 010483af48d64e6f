// The URL cache contract over the sources of this build: the in-memory list, a union of members,
// a browser cache source on its own, and the discovered caches read in the background, which is
// the URL cache the window and tavrin-harvest really use.
#include "UrlCacheSourceContract.h"

#include <memory>
#include <type_traits>

#include "CacheBackends.h"
#include "cache/ListCacheSource.h"
#include "cache/discovery/Discovery.h"
#include "cache/discovery/UnionCacheSource.h"

namespace {

// Entries whose files lie in a folder of their own, handed to in-memory lists.
class ListFiles {
 public:
  CacheEntry EntryOf(const std::string& url, const std::string& bytes) {
    CacheEntry entry;
    entry.url = url;
    entry.localPath = temp_ / (std::to_string(++count_) + ".jpg");
    WriteFile(entry.localPath, bytes);
    entry.size = bytes.size();
    entry.lastAccess = CacheFileTime::FromValue(133000000000000000ULL + count_);
    return entry;
  }

 private:
  TempDir temp_;
  int count_ = 0;
};

class ListBackend {
 public:
  std::string UrlFor(const std::string& name) const { return "http://list/" + name; }
  void Put(const std::string& url, const std::string& bytes) { source_.Add(files_.EntryOf(url, bytes)); }
  UrlCacheSource& Source() { return source_; }

 private:
  ListFiles files_;
  ListCacheSource source_;
};

// Entries spread over two members, and an empty member and a missing one between them.
class UnionBackend {
 public:
  std::string UrlFor(const std::string& name) const { return "http://union/" + name; }
  void Put(const std::string& url, const std::string& bytes) {
    (put_++ % 2 ? second_ : first_)->Add(files_.EntryOf(url, bytes));
  }
  UrlCacheSource& Source() { return union_; }

 private:
  ListFiles files_;
  std::shared_ptr<ListCacheSource> first_ = std::make_shared<ListCacheSource>();
  std::shared_ptr<ListCacheSource> second_ = std::make_shared<ListCacheSource>();
  UnionCacheSource union_{[this] {
    return UnionCacheSource::SourceList{first_, std::make_shared<ListCacheSource>(), nullptr, second_};
  }};
  int put_ = 0;
};

// A Chromium simple cache written in its real bytes; read by its own source, or through discovery's
// URL cache with the background reading.
template <bool kInBackground>
class ChromiumBackend {
 public:
  std::string UrlFor(const std::string& name) const { return "http://h/" + name; }
  void Put(const std::string& url, const std::string& bytes) {
    StoredResponse response;
    response.url = url;
    response.body = bytes;
    writer_.Write(response);
  }
  UrlCacheSource& Source() {
    if (!source_) {
      if constexpr (kInBackground) {
        source_ = MakeUrlCacheOf({{CacheKind::ChromiumSimple, temp_ / "Cache_Data"}}, CacheReading::InBackground);
      } else {
        source_ = writer_.Open();
      }
    }
    return *source_;
  }

 private:
  TempDir temp_;
  ChromiumSimpleBackend writer_{temp_};
  std::shared_ptr<UrlCacheSource> source_;
};

struct SourceName {
  template <class Backend>
  static std::string GetName(int) {
    if constexpr (std::is_same_v<Backend, ListBackend>) return "List";
    if constexpr (std::is_same_v<Backend, UnionBackend>) return "Union";
    if constexpr (std::is_same_v<Backend, ChromiumBackend<false>>) return "BrowserSource";
    return "DiscoveredInBackground";
  }
};

using Sources = ::testing::Types<ListBackend, UnionBackend, ChromiumBackend<false>, ChromiumBackend<true>>;
INSTANTIATE_TYPED_TEST_SUITE_P(Sources, UrlCacheSourceContract, Sources, SourceName);

}  // namespace
