#pragma once
// Reading a source the way the harvest does: its listing, and copies through the virtual files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "base/FileSystemObject.h"
#include "base/FileWriter.h"
#include "cache/UrlCacheSource.h"
#include "support/TempDir.h"

// The entries of one enumeration by URL.
inline std::map<std::string, CacheEntry> ListByUrl(UrlCacheSource& source) {
  std::map<std::string, CacheEntry> entries;
  auto cursor = source.Open();
  CacheEntry entry;
  while (cursor->Next(entry)) entries[entry.url] = entry;
  return entries;
}

// The bytes a copy of the path writes into a new file, as the harvest makes it (a body stored as
// it is sent is copied by the system there, and checked as the file holds it); empty when the copy
// fails.
inline std::optional<std::string> CopyIntoFile(const std::string& path) {
  static TempDir folder;
  static int copies = 0;
  const std::string target = folder / ("copy" + std::to_string(++copies));
  try {
    FileWriter writer = FileWriter::NewFileIn(folder.Path());
    FileSystemObject().ReadContents(path, writer.Sink());
    if (writer.PlaceIfNameFree(target) != FileWriter::Placement::Placed) return std::nullopt;
  } catch (...) {
    return std::nullopt;
  }
  std::string bytes = ReadFile(target);
  std::filesystem::remove(target);
  return bytes;
}

// The bytes a copy of the path writes; empty when the copy fails. A copy that went into a file is
// made again into memory, and both must agree (one that failed is not: a copy that fails a check
// or finds another size changes what the source lists).
inline std::optional<std::string> CopyOut(const std::string& path) {
  const std::optional<std::string> filed = CopyIntoFile(path);
  if (!filed) return std::nullopt;
  std::optional<std::string> bytes(std::in_place);
  try {
    FileSystemObject().ReadContents(path, [&](const char* data, std::size_t length) {
      bytes->append(data, length);
      return true;
    });
  } catch (...) {
    bytes.reset();
  }
  EXPECT_TRUE(bytes == filed) << "a copy into a file and one into memory differ: " << path;
  return bytes;
}
