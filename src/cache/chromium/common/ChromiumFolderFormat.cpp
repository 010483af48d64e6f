#include "cache/chromium/common/ChromiumFolderFormat.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/PathText.h"
#include "cache/browser/ByteReading.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/FileStamp.h"

namespace {

constexpr std::size_t kIndexPrefixLength = 32;  // enough for every mark and a telling excerpt
constexpr std::size_t kEntryNameLength = 18;    // 16 hex digits, "_", one suffix character

bool IsSimpleEntryName(std::string_view name) {
  if (name.size() != kEntryNameLength || !name.ends_with("_0")) return false;
  for (std::size_t i = 0; i < 16; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// The index's first bytes as the user may be shown them: printable ASCII as it is, the rest as
// hexadecimal.
std::string Describe(const std::vector<std::uint8_t>& bytes) {
  bool printable = !bytes.empty();
  for (std::uint8_t byte : bytes) printable = printable && byte >= 0x20 && byte < 0x7f;
  std::string text = printable ? "index \"" : "index starting";
  static const char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes.size() && i < (printable ? kIndexPrefixLength : 8); ++i) {
    if (printable) {
      text += static_cast<char>(bytes[i]);
    } else {
      text += ' ';
      text += kHex[bytes[i] >> 4];
      text += kHex[bytes[i] & 15];
    }
  }
  if (printable) text += '"';
  return text;
}

}  // namespace

ChromiumFolderFormat ChromiumFormatOfIndex(const std::string& folder) {
  const auto index = FileByteSource::Open(JoinPath(folder, "index"));
  const auto length = index ? std::min<std::uint64_t>(index->Size(), kIndexPrefixLength) : 0;
  const auto head = length > 0 ? index->Read(0, length) : std::nullopt;
  if (head) {
    std::uint32_t shortMagic = 0;
    std::uint64_t magic = 0;
    if (ReadLe32(*head, 0, shortMagic) && shortMagic == kBlockfileIndexMagic)
      return {ChromiumFolderKind::Blockfile, {}};
    if (ReadLe64(*head, 0, magic) && magic == kSimpleInitialMagic) return {ChromiumFolderKind::Simple, {}};
    const std::size_t prefix = sizeof kSqlIndexPrefix - 1;
    if (head->size() >= prefix && std::memcmp(head->data(), kSqlIndexPrefix, prefix) == 0) {
      return {ChromiumFolderKind::Sql, {}};
    }
    return {ChromiumFolderKind::Unknown, Describe(*head)};
  }
  return {};
}

ChromiumFolderFormat ChromiumFormatOfFolder(const std::string& folder) {
  if (!IsFolder(folder)) return {};
  ChromiumFolderFormat byIndex = ChromiumFormatOfIndex(folder);
  if (byIndex.kind != ChromiumFolderKind::Unknown && byIndex.kind != ChromiumFolderKind::None) return byIndex;
  // A simple cache may not have written its index yet; its other files tell it.
  if (IsFolder(JoinPath(folder, "index-dir"))) return {ChromiumFolderKind::Simple, {}};
  bool entryFound = false;
  ListFolderFiles(folder,
                  [&](std::string_view name, const FileStamp&) { entryFound = entryFound || IsSimpleEntryName(name); });
  if (entryFound) return {ChromiumFolderKind::Simple, {}};
  return byIndex;
}
