#pragma once
// The files of a blockfile cache in one fuzz input: records of [u8 file][u32 LE length][bytes].
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace blockfile_fuzz {

inline const char* const kFileNames[] = {"index", "data_0", "data_1", "data_2", "data_3", "f_000001", "f_000002"};
inline constexpr std::size_t kFileCount = sizeof kFileNames / sizeof kFileNames[0];

inline std::map<std::string, std::string> Unframe(const std::uint8_t* data, std::size_t size) {
  std::map<std::string, std::string> files;
  std::size_t at = 0;
  while (size - at >= 5) {
    const std::size_t file = data[at] % kFileCount;
    const std::size_t length = std::size_t{data[at + 1]} | (std::size_t{data[at + 2]} << 8) |
                               (std::size_t{data[at + 3]} << 16) | (std::size_t{data[at + 4]} << 24);
    at += 5;
    const std::size_t take = length < size - at ? length : size - at;
    files[kFileNames[file]].assign(reinterpret_cast<const char*>(data + at), take);
    at += take;
  }
  return files;
}

inline std::string Frame(const std::map<std::string, std::string>& files) {
  std::string out;
  for (std::size_t file = 0; file < kFileCount; ++file) {
    const auto found = files.find(kFileNames[file]);
    if (found == files.end()) continue;
    const std::size_t length = found->second.size();
    out += static_cast<char>(file);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((length >> (8 * i)) & 0xff);
    out += found->second;
  }
  return out;
}

}  // namespace blockfile_fuzz
