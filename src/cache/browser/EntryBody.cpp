#include "cache/browser/EntryBody.h"

#include <vector>

#include "base/PathText.h"
#include "cache/browser/ByteSource.h"
#include "cache/browser/Crc32.h"

namespace {

constexpr std::size_t kReadChunk = 256 * 1024;  // one Firefox chunk, so that its hash fits one read

}  // namespace

std::uint32_t Lookup2Hash(const std::uint8_t* k, std::size_t length, std::uint32_t initial) {
  auto mix = [](std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
    a -= b;
    a -= c;
    a ^= (c >> 13);
    b -= c;
    b -= a;
    b ^= (a << 8);
    c -= a;
    c -= b;
    c ^= (b >> 13);
    a -= b;
    a -= c;
    a ^= (c >> 12);
    b -= c;
    b -= a;
    b ^= (a << 16);
    c -= a;
    c -= b;
    c ^= (b >> 5);
    a -= b;
    a -= c;
    a ^= (c >> 3);
    b -= c;
    b -= a;
    b ^= (a << 10);
    c -= a;
    c -= b;
    c ^= (b >> 15);
  };
  auto word = [](const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  };
  std::uint32_t a = 0x9e3779b9u, b = 0x9e3779b9u, c = initial;
  std::size_t left = length;
  while (left >= 12) {
    a += word(k);
    b += word(k + 4);
    c += word(k + 8);
    mix(a, b, c);
    k += 12;
    left -= 12;
  }
  c += static_cast<std::uint32_t>(length);
  switch (left) {  // the first byte of c is reserved for the length
    case 11:
      c += std::uint32_t{k[10]} << 24;
      [[fallthrough]];
    case 10:
      c += std::uint32_t{k[9]} << 16;
      [[fallthrough]];
    case 9:
      c += std::uint32_t{k[8]} << 8;
      [[fallthrough]];
    case 8:
      b += std::uint32_t{k[7]} << 24;
      [[fallthrough]];
    case 7:
      b += std::uint32_t{k[6]} << 16;
      [[fallthrough]];
    case 6:
      b += std::uint32_t{k[5]} << 8;
      [[fallthrough]];
    case 5:
      b += k[4];
      [[fallthrough]];
    case 4:
      a += std::uint32_t{k[3]} << 24;
      [[fallthrough]];
    case 3:
      a += std::uint32_t{k[2]} << 16;
      [[fallthrough]];
    case 2:
      a += std::uint32_t{k[1]} << 8;
      [[fallthrough]];
    case 1:
      a += k[0];
      [[fallthrough]];
    default:
      break;
  }
  mix(a, b, c);
  return c;
}

bool EntryStillHolds(const ParsedEntry& parsed, const std::string& folder) {
  for (std::uint8_t i = 0; i < parsed.stamps.count && i < parsed.FileCount(); ++i) {
    const auto now = StampOfPath(JoinPath(folder, parsed.File(i)));
    if (!now || !(*now == parsed.stamps[i])) return false;
  }
  return !parsed.Check() || parsed.Check()->StillHolds();
}

std::optional<std::uint32_t> ReadBodyTail(const ParsedEntry& parsed, const std::string& folder, ByteSource* bodyFile) {
  if (const StoredBody* stored = parsed.Stored()) return stored->LastFourBytes();
  if (parsed.pieces.empty()) return std::nullopt;
  const BodyPiece& last = *(parsed.pieces.end() - 1);
  if (last.length < last.skip + 4) return std::nullopt;  // the bytes lie in more than one piece
  const std::size_t index = last.file == kEntryBodyFile ? parsed.bodyFile : last.file;
  if (index >= parsed.FileCount()) return std::nullopt;
  std::uint8_t tail[4];
  if (bodyFile && index == parsed.bodyFile) {
    if (!bodyFile->ReadAt(last.offset + last.length - 4, tail)) return std::nullopt;
    return std::uint32_t{tail[0]} | (std::uint32_t{tail[1]} << 8) | (std::uint32_t{tail[2]} << 16) |
           (std::uint32_t{tail[3]} << 24);
  }
  const auto file = FileByteSource::Open(JoinPath(folder, parsed.File(index)));
  if (!file || (index < parsed.stamps.count && !(file->Stamp() == parsed.stamps[index]))) return std::nullopt;
  if (!file->ReadAt(last.offset + last.length - 4, tail)) return std::nullopt;
  return std::uint32_t{tail[0]} | (std::uint32_t{tail[1]} << 8) | (std::uint32_t{tail[2]} << 16) |
         (std::uint32_t{tail[3]} << 24);
}

namespace {

// The outcome of a whole body decoded into decoder: its size checked against expectedSize.
BodyResult Finished(const ParsedEntry& parsed, BodyDecoder& decoder, const std::uint64_t* expectedSize) {
  if (!decoder.Finish()) {
    return {decoder.SinkRefused() ? BodyOutcome::SinkRefused : BodyOutcome::CheckFailed, decoder.Written()};
  }
  if (expectedSize && decoder.Written() != *expectedSize) {
    const bool coded = !parsed.Codings().empty();
    return {coded ? BodyOutcome::SizeDiffers : BodyOutcome::CheckFailed, decoder.Written()};
  }
  return {BodyOutcome::Written, decoder.Written()};
}

BodyResult StreamStoredBody(const ParsedEntry& parsed, const StoredBody& stored, const ByteSink& sink,
                            const std::uint64_t* expectedSize) {
  BodyDecoder decoder(parsed.Codings(), sink);
  bool decodeFailed = false;
  const BodyOutcome delivered = stored.Deliver([&](const std::uint8_t* data, std::size_t length) {
    if (decoder.Feed(data, length)) return true;
    decodeFailed = !decoder.SinkRefused();
    return false;
  });
  if (delivered == BodyOutcome::SinkRefused) {
    return {decodeFailed ? BodyOutcome::CheckFailed : BodyOutcome::SinkRefused, decoder.Written()};
  }
  if (delivered != BodyOutcome::Written) return {delivered, decoder.Written()};
  return Finished(parsed, decoder, expectedSize);
}

}  // namespace

BodyResult StreamEntryBody(const ParsedEntry& parsed, const std::string& folder, const ByteSink& sink,
                           const std::uint64_t* expectedSize) {
  if (const StoredBody* stored = parsed.Stored()) {
    if (!EntryStillHolds(parsed, folder)) return {};
    return StreamStoredBody(parsed, *stored, sink, expectedSize);
  }
  BodyResult result;
  // Whether the files are still the ones parsed is told by each file's stamp when it is opened and
  // by all of them once the body is through, before anything counts as written.
  if (parsed.stamps.count > parsed.FileCount()) return result;
  // Each file is opened once, when the first piece in it is read, and must then be the one parsed.
  std::vector<std::unique_ptr<FileByteSource>> open(parsed.FileCount());
  auto fileOf = [&](const BodyPiece& piece) -> FileByteSource* {
    const std::size_t index = piece.file == kEntryBodyFile ? parsed.bodyFile : piece.file;
    if (index >= open.size()) return nullptr;
    if (!open[index]) {
      open[index] = FileByteSource::Open(JoinPath(folder, parsed.File(index)));
      if (open[index] && index < parsed.stamps.count && !(open[index]->Stamp() == parsed.stamps[index])) {
        open[index].reset();
      }
    }
    return open[index].get();
  };

  BodyDecoder decoder(parsed.Codings(), sink);
  // Bytes of a body stored as it is sent (no coding to undo) go to a sink that takes ranges of
  // files whole, to be copied by the system; their checks run over what the destination then
  // holds. Counted apart from what went through the decoder.
  const bool ranges = parsed.Codings().empty() && sink.Ranges();
  std::uint64_t ranged = 0;
  const auto written = [&] { return decoder.Written() + ranged; };
  // Kept from copy to copy: a buffer this large comes from the system afresh each time it is
  // allocated, and its pages would be faulted in again for every copy.
  thread_local std::vector<std::uint8_t> buffer;
  for (const BodyPiece& piece : parsed.pieces) {
    FileByteSource* file = fileOf(piece);
    if (!file) return {BodyOutcome::EntryChanged, written()};
    std::uint32_t crc = 0;
    const bool wholeRead = piece.check == BodyPiece::Check::Lookup2Low16;
    if (wholeRead && piece.length > kReadChunk) return {BodyOutcome::CheckFailed, 0};
    if (ranges && piece.skip == 0) {
      if (!RangeFits(piece.offset, piece.length, file->Size())) return {BodyOutcome::EntryChanged, written()};
      if (piece.length > kLargestDecodedBody - written()) return {BodyOutcome::CheckFailed, written()};
      bool checkFailed = false;
      const ByteSink::ReadBack check = [&](const std::uint8_t* data, std::size_t length) {
        if (piece.check == BodyPiece::Check::Crc32) {
          crc = Crc32(crc, data, length);
        } else if (wholeRead &&
                   (length != piece.length || (Lookup2Hash(data, length) & 0xffffu) != (piece.expected & 0xffffu))) {
          checkFailed = true;
        }
        return !checkFailed;
      };
      const ByteSink::RangeOutcome copied = sink.Ranges()(file->Descriptor(), piece.offset, piece.length,
                                                          piece.check == BodyPiece::Check::None ? nullptr : &check);
      if (copied == ByteSink::RangeOutcome::SourceShort) return {BodyOutcome::EntryChanged, written()};
      if (copied == ByteSink::RangeOutcome::Refused) {
        return {checkFailed ? BodyOutcome::CheckFailed : BodyOutcome::SinkRefused, written()};
      }
      ranged += piece.length;
      if (piece.check == BodyPiece::Check::Crc32 && crc != piece.expected) {
        return {BodyOutcome::CheckFailed, written()};
      }
      continue;
    }
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(piece.length, kReadChunk));
    if (buffer.size() < chunk) buffer.resize(chunk);
    for (std::uint64_t done = 0; done < piece.length;) {
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(piece.length - done, chunk));
      if (!file->ReadAt(piece.offset + done, std::span(buffer.data(), step)))
        return {BodyOutcome::EntryChanged, written()};
      if (piece.check == BodyPiece::Check::Crc32) crc = Crc32(crc, buffer.data(), step);
      if (wholeRead && (Lookup2Hash(buffer.data(), step) & 0xffffu) != (piece.expected & 0xffffu)) {
        return {BodyOutcome::CheckFailed, written()};
      }
      // Bytes before piece.skip belong to the piece's checksum only.
      const std::uint64_t from = done < piece.skip ? std::min<std::uint64_t>(piece.skip - done, step) : 0;
      if (from < step && !decoder.Feed(buffer.data() + from, step - static_cast<std::size_t>(from))) {
        return {decoder.SinkRefused() ? BodyOutcome::SinkRefused : BodyOutcome::CheckFailed, written()};
      }
      done += step;
    }
    if (piece.check == BodyPiece::Check::Crc32 && crc != piece.expected) return {BodyOutcome::CheckFailed, written()};
  }
  if (!decoder.Finish()) {
    return {decoder.SinkRefused() ? BodyOutcome::SinkRefused : BodyOutcome::CheckFailed, written()};
  }
  // The files must still be the ones parsed: a rewrite during the copy could have mixed versions.
  for (std::size_t i = 0; i < open.size() && i < parsed.stamps.count; ++i) {
    if (!open[i]) continue;
    const auto after = open[i]->CurrentStamp();
    if (!after || !(*after == parsed.stamps[i])) return {BodyOutcome::EntryChanged, written()};
  }
  if (!EntryStillHolds(parsed, folder)) return {BodyOutcome::EntryChanged, written()};
  if (expectedSize && written() != *expectedSize) {
    const bool coded = !parsed.Codings().empty();
    return {coded ? BodyOutcome::SizeDiffers : BodyOutcome::CheckFailed, written()};
  }
  return {BodyOutcome::Written, written()};
}
