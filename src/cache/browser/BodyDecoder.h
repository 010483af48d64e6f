#pragma once
// Undoing the Content-Encoding of a stored body while its bytes flow: gzip, deflate and br (where
// built with brotli), singly or stacked, with a cap on the decoded size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/VirtualFiles.h"

enum class ContentCoding { Gzip, Deflate, Brotli };

// False in a build without a brotli decoder (a Windows cross build may lack one): br is then a
// coding that cannot be undone.
bool BrotliDecodingAvailable();

// The codings of a Content-Encoding value in the order the server applied them ("identity" and
// empty items are dropped). Empty when a coding cannot be undone here.
std::optional<std::vector<ContentCoding>> ParseContentEncoding(std::string_view value);

// Decoded bodies larger than this are refused rather than written.
inline constexpr std::uint64_t kLargestDecodedBody = 1ull << 30;

class BodyDecoder {
 public:
  // Bytes fed in come out decoded in out; with no codings they pass unchanged.
  BodyDecoder(const std::vector<ContentCoding>& codings, ByteSink out);
  ~BodyDecoder();
  BodyDecoder(const BodyDecoder&) = delete;
  BodyDecoder& operator=(const BodyDecoder&) = delete;

  // False when the data is corrupt, the decoded size passes the cap, or the sink refused.
  bool Feed(const std::uint8_t* data, std::size_t length);
  // True when every coding ended cleanly and all of its output was delivered.
  bool Finish();
  std::uint64_t Written() const { return written_; }
  // True when the last failure was the sink's refusal rather than the data's fault.
  bool SinkRefused() const { return sinkRefused_; }

  class Stage;

 private:
  bool Deliver(std::size_t stage, const std::uint8_t* data, std::size_t length);
  bool FinishFrom(std::size_t stage);

  std::vector<std::unique_ptr<Stage>> stages_;  // stages_[0] undoes the coding applied last
  ByteSink out_;
  std::uint64_t written_ = 0;
  bool failed_ = false;
  bool sinkRefused_ = false;
};
