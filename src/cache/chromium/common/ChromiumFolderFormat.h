#pragma once
// Which of Chromium's disk-cache formats a folder holds, told by content in one place: every
// format's descriptor and source asks here, so that no folder is ever read as two formats.
//
// Each format leaves a file named "index" that starts with its own mark:
//   simple     8 bytes, the little-endian number 0xfcfb6d1ba7725c30, beside "index-dir/" and
//              entry files "hhhhhhhhhhhhhhhh_0" (a folder may lack the index while it is new);
//   blockfile  4 bytes, the little-endian number 0xc103cac3, beside "data_0" ... "data_3";
//   SQL        the text "SQLCache" and more text, beside the SQLite shards "sqldb0" ... .
#include <cstdint>
#include <string>

#include "cache/CacheFormat.h"

inline constexpr std::uint64_t kSimpleInitialMagic = 0xfcfb6d1ba7725c30ull;
inline constexpr std::uint32_t kBlockfileIndexMagic = 0xC103CAC3u;
inline constexpr char kSqlIndexPrefix[] = "SQLCache";

enum class ChromiumFolderKind {
  None,  // no Chromium cache (nothing that marks one)
  Simple,
  Blockfile,
  Sql,
  Unknown,  // an "index" of none of the known kinds: a format this build cannot read
};

struct ChromiumFolderFormat {
  ChromiumFolderKind kind = ChromiumFolderKind::None;
  // For Unknown: what was found, in plain words (the index's first bytes), for the user.
  std::string found;
};

// What folder holds. An index that cannot be read now (being written, a special file) counts as
// absent, so that the other marks decide.
ChromiumFolderFormat ChromiumFormatOfFolder(const std::string& folder);
// What the folder's index alone says, without looking at other files (cheap enough for every
// walk): None when there is no index that can be read, Unknown for an index of no known kind.
ChromiumFolderFormat ChromiumFormatOfIndex(const std::string& folder);

// The descriptor of Chromium caches whose format this build cannot read: "chromium-unknown".
extern const CacheFormat kChromiumUnknownFormat;

inline bool HoldsChromiumFormat(const std::string& folder, ChromiumFolderKind kind) {
  return ChromiumFormatOfFolder(folder).kind == kind;
}
