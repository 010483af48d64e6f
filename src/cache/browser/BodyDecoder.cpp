#include "cache/browser/BodyDecoder.h"

#ifdef TAVRIN_HAVE_BROTLI
#include <brotli/decode.h>
#endif
#include <zlib.h>

#include <functional>

#include "base/PathText.h"

using Emit = std::function<bool(const std::uint8_t*, std::size_t)>;

class BodyDecoder::Stage {
 public:
  virtual ~Stage() = default;
  // Decodes data and passes what comes out to emit; false on corrupt data or a refused emit.
  virtual bool Feed(const std::uint8_t* data, std::size_t length, const Emit& emit) = 0;
  // True when the coded stream ended completely.
  virtual bool Finish(const Emit& emit) = 0;
};

namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;

// gzip (possibly several members) and deflate (zlib-wrapped, or raw as some servers send it).
class ZlibStage : public BodyDecoder::Stage {
 public:
  explicit ZlibStage(bool gzip) : gzip_(gzip) {}
  ~ZlibStage() override {
    if (initialised_) inflateEnd(&stream_);
  }

  bool Feed(const std::uint8_t* data, std::size_t length, const Emit& emit) override {
    while (length > 0) {
      if (ended_) {
        // Another gzip member may follow; anything else after the end is ignored, as browsers do.
        if (!gzip_ || data[0] != 0x1f) return true;
        if (inflateReset(&stream_) != Z_OK) return false;
        ended_ = false;
      }
      if (!initialised_ && !Start(data, length)) return false;
      const std::size_t step = length > (1u << 30) ? (1u << 30) : length;
      stream_.next_in = const_cast<Bytef*>(data);
      stream_.avail_in = static_cast<uInt>(step);
      while (stream_.avail_in > 0 && !ended_) {
        stream_.next_out = buffer_;
        stream_.avail_out = sizeof buffer_;
        const int result = inflate(&stream_, Z_NO_FLUSH);
        const std::size_t produced = sizeof buffer_ - stream_.avail_out;
        if (produced > 0 && !emit(buffer_, produced)) return false;
        if (result == Z_STREAM_END) {
          ended_ = true;
        } else if (result != Z_OK && !(result == Z_BUF_ERROR && produced > 0)) {
          return false;
        }
      }
      const std::size_t used = step - stream_.avail_in;
      data += used;
      length -= used;
      if (!ended_ && used == 0) return false;  // no progress: the stream is stuck
    }
    return true;
  }

  bool Finish(const Emit& emit) override {
    if (!initialised_ || ended_) return ended_;
    // Flush what the inflater still holds.
    for (;;) {
      stream_.next_in = nullptr;
      stream_.avail_in = 0;
      stream_.next_out = buffer_;
      stream_.avail_out = sizeof buffer_;
      const int result = inflate(&stream_, Z_FINISH);
      const std::size_t produced = sizeof buffer_ - stream_.avail_out;
      if (produced > 0 && !emit(buffer_, produced)) return false;
      if (result == Z_STREAM_END) return true;
      if (produced == 0) return false;
    }
  }

 private:
  bool Start(const std::uint8_t* data, std::size_t length) {
    int windowBits = 16 + MAX_WBITS;
    if (!gzip_) {
      // A zlib header: compression method 8, a window no larger than 32 KiB, a check that divides by 31.
      const bool wrapped =
          length >= 2 && (data[0] & 0x0f) == 8 && (data[0] >> 4) <= 7 && ((data[0] << 8) | data[1]) % 31 == 0;
      windowBits = wrapped ? MAX_WBITS : -MAX_WBITS;
    }
    if (inflateInit2(&stream_, windowBits) != Z_OK) return false;
    initialised_ = true;
    return true;
  }

  bool gzip_;
  bool initialised_ = false;
  bool ended_ = false;
  z_stream stream_{};
  std::uint8_t buffer_[kOutputChunk];
};

#ifdef TAVRIN_HAVE_BROTLI
class BrotliStage : public BodyDecoder::Stage {
 public:
  BrotliStage() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {}
  ~BrotliStage() override {
    if (state_) BrotliDecoderDestroyInstance(state_);
  }

  bool Feed(const std::uint8_t* data, std::size_t length, const Emit& emit) override {
    if (!state_) return false;
    std::size_t availableIn = length;
    const std::uint8_t* nextIn = data;
    while (!BrotliDecoderIsFinished(state_)) {
      std::size_t availableOut = sizeof buffer_;
      std::uint8_t* nextOut = buffer_;
      const BrotliDecoderResult result =
          BrotliDecoderDecompressStream(state_, &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
      const std::size_t produced = sizeof buffer_ - availableOut;
      if (produced > 0 && !emit(buffer_, produced)) return false;
      if (result == BROTLI_DECODER_RESULT_ERROR) return false;
      if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) return true;
      if (result == BROTLI_DECODER_RESULT_SUCCESS) break;
    }
    return true;  // bytes after the end of the stream are ignored
  }

  bool Finish(const Emit& emit) override {
    if (!state_) return false;
    // Output the decoder still holds comes out with an empty feed.
    if (!BrotliDecoderIsFinished(state_) && !Feed(nullptr, 0, emit)) return false;
    return BrotliDecoderIsFinished(state_);
  }

 private:
  BrotliDecoderState* state_;
  std::uint8_t buffer_[kOutputChunk];
};
#else
// Built without a brotli decoder: br is never parsed as a coding we can undo, and a decoder asked
// for it anyway fails rather than passing coded bytes off as the file.
class BrotliStage : public BodyDecoder::Stage {
 public:
  bool Feed(const std::uint8_t*, std::size_t, const Emit&) override { return false; }
  bool Finish(const Emit&) override { return false; }
};
#endif

}  // namespace

bool BrotliDecodingAvailable() {
#ifdef TAVRIN_HAVE_BROTLI
  return true;
#else
  return false;
#endif
}

std::optional<std::vector<ContentCoding>> ParseContentEncoding(std::string_view value) {
  std::vector<ContentCoding> codings;
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view item = value.substr(0, comma);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    const std::string name = LowerCaseAscii(item);
    if (name == "gzip" || name == "x-gzip") {
      codings.push_back(ContentCoding::Gzip);
    } else if (name == "deflate") {
      codings.push_back(ContentCoding::Deflate);
    } else if (name == "br" && BrotliDecodingAvailable()) {
      codings.push_back(ContentCoding::Brotli);
    } else if (!name.empty() && name != "identity") {
      return std::nullopt;
    }
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  if (codings.size() > 4) return std::nullopt;  // no server stacks this many; a body that does is not a picture
  return codings;
}

BodyDecoder::BodyDecoder(const std::vector<ContentCoding>& codings, ByteSink out) : out_(std::move(out)) {
  for (auto coding = codings.rbegin(); coding != codings.rend(); ++coding) {
    if (*coding == ContentCoding::Brotli) {
      stages_.push_back(std::make_unique<BrotliStage>());
    } else {
      stages_.push_back(std::make_unique<ZlibStage>(*coding == ContentCoding::Gzip));
    }
  }
}

BodyDecoder::~BodyDecoder() = default;

bool BodyDecoder::Deliver(std::size_t stage, const std::uint8_t* data, std::size_t length) {
  if (stage == stages_.size()) {
    if (length > kLargestDecodedBody - written_) return false;
    written_ += length;
    if (!out_(reinterpret_cast<const char*>(data), length)) {
      sinkRefused_ = true;
      return false;
    }
    return true;
  }
  return stages_[stage]->Feed(data, length,
                              [this, stage](const std::uint8_t* d, std::size_t n) { return Deliver(stage + 1, d, n); });
}

bool BodyDecoder::FinishFrom(std::size_t stage) {
  if (stage == stages_.size()) return true;
  const bool ended =
      stages_[stage]->Finish([this, stage](const std::uint8_t* d, std::size_t n) { return Deliver(stage + 1, d, n); });
  return ended && FinishFrom(stage + 1);
}

bool BodyDecoder::Feed(const std::uint8_t* data, std::size_t length) {
  if (failed_) return false;
  if (length == 0) return true;
  failed_ = !Deliver(0, data, length);
  return !failed_;
}

bool BodyDecoder::Finish() {
  if (failed_) return false;
  failed_ = !FinishFrom(0);
  return !failed_;
}
