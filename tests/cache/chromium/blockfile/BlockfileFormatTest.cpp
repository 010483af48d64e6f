// The blockfile records against bytes and values taken from a cache that Chromium wrote.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/chromium/blockfile/BlockfileFormat.h"
#include "cache/chromium/common/SuperFastHash.h"

using namespace blockfile;

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// The first 96 bytes of a real EntryStore (tiny.png, 9,255 bytes, key of 73 bytes).
const std::string kRealEntry =
    "d810d120000000000800009000000000"
    "0000000000000000e50756c9adc02f00"
    "49000000000000002c01000027240000"
    "00000000000000002200 01a1080003c2"
    "00000000000000000000000000000000"
    "0000000000000000 00000000c59dc3ad";

std::vector<std::uint8_t> RealEntry() {
  std::string hex;
  for (char c : kRealEntry) {
    if (c != ' ') hex += c;
  }
  return FromHex(hex);
}

}  // namespace

TEST(BlockfileFormatTest, HashesAsTheBrowserDoes) {
  // The key hash and the record's self hash of the real entry above.
  EXPECT_EQ(SuperFastHash("1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:43323/tiny.png"), 0x20d110d8u);
  const auto entry = RealEntry();
  EXPECT_EQ(SuperFastHash(entry.data(), 92), 0xadc39dc5u);
  EXPECT_EQ(SuperFastHash(""), 0u);
  // Every tail length, and bytes above 0x7f (mixed in as signed chars), give different values.
  EXPECT_NE(SuperFastHash("a\xe7"), SuperFastHash("a\x67"));
  EXPECT_NE(SuperFastHash("abcde\xff\xfe"), SuperFastHash("abcde\x7f\x7e"));
}

TEST(BlockfileFormatTest, ReadsTheRealEntryRecordAndRejectsAChangedOne) {
  auto bytes = RealEntry();
  const auto record = ParseEntryRecord(bytes);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->hash, 0x20d110d8u);
  EXPECT_EQ(record->rankings.Value(), 0x90000008u);
  EXPECT_EQ(record->keyLength, 73);
  EXPECT_EQ(record->dataSize[0], 300);
  EXPECT_EQ(record->dataSize[1], 9255);
  EXPECT_EQ(record->dataAddress[0].Value(), 0xa1010022u);
  EXPECT_EQ(record->dataAddress[1].Value(), 0xc2030008u);
  EXPECT_EQ(record->creationTime, 0x002fc0adc95607e5ull);
  bytes[44] ^= 1;  // the body size
  EXPECT_FALSE(ParseEntryRecord(bytes));
  bytes[92] = bytes[93] = bytes[94] = bytes[95] = 0;  // no self hash: taken as it is
  EXPECT_TRUE(ParseEntryRecord(bytes));
  EXPECT_FALSE(ParseEntryRecord(Bytes(bytes).first(95)));
}

TEST(BlockfileFormatTest, DecodesAddresses) {
  const Address entry(0xa001000e);
  EXPECT_TRUE(entry.IsBlockRun());
  EXPECT_EQ(entry.FileName(), "data_1");
  EXPECT_EQ(entry.Offset(), 0x2e00u);
  EXPECT_EQ(entry.Length(), 256u);
  const Address body(0xc2030008);
  EXPECT_EQ(body.FileName(), "data_3");
  EXPECT_EQ(body.Offset(), 0xa000u);
  EXPECT_EQ(body.Length(), 3u * 4096);
  EXPECT_EQ(Address(0x90000008).Offset(), 0x2120u);
  EXPECT_EQ(Address(0xb1020000).FileName(), "data_2");
  EXPECT_EQ(Address(0xb1020000).Length(), 2048u);
  const Address file(0x80000005);
  EXPECT_TRUE(file.IsSeparateFile());
  EXPECT_FALSE(file.IsBlockRun());
  EXPECT_EQ(file.FileName(), "f_000005");

  EXPECT_FALSE(Address(0x2001000e).IsBlockRun());  // not initialized
  EXPECT_FALSE(Address(0xa3010003).IsBlockRun());  // four blocks from block 3 cross a group of four
  EXPECT_FALSE(Address(0xa4010000).IsBlockRun());  // reserved bits set
  EXPECT_FALSE(Address(0xd0010000).IsBlockRun());  // a block type the HTTP cache does not use

  EXPECT_TRUE(StreamPlacementIsSane(0, Address(0)));
  EXPECT_FALSE(StreamPlacementIsSane(0, Address(0xa001000e)));  // no data but an address
  EXPECT_FALSE(StreamPlacementIsSane(304, Address(0)));         // kept in memory only
  EXPECT_FALSE(StreamPlacementIsSane(-1, Address(0xa001000e)));
  EXPECT_TRUE(StreamPlacementIsSane(16384, Address(0xc3030008)));
  EXPECT_FALSE(StreamPlacementIsSane(16385, Address(0xc3030008)));  // too large for blocks
  EXPECT_TRUE(StreamPlacementIsSane(16385, Address(0x80000004)));
  EXPECT_FALSE(StreamPlacementIsSane(100, Address(0x80000004)));  // too small for a file of its own
  EXPECT_FALSE(StreamPlacementIsSane(30, Address(0x90000008)));   // rankings blocks hold no streams
}

TEST(BlockfileFormatTest, IndexHeaderNeedsTheWholeTable) {
  std::vector<std::uint8_t> header(368, 0);
  auto put = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) header[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, 0xC103CAC3u);
  put(4, 0x30000);
  put(28, 0x80000);
  ASSERT_TRUE(ParseIndexHeader(header, 368 + 4 * 0x80000));
  EXPECT_EQ(ParseIndexHeader(header, 368 + 4 * 0x80000)->tableLength, 0x80000u);
  EXPECT_FALSE(ParseIndexHeader(header, 368 + 4 * 0x80000 - 1));
  put(28, 0);  // 0 stands for 65536
  EXPECT_EQ(ParseIndexHeader(header, 368 + 4 * 65536)->tableLength, 65536u);
  put(28, 3000);  // not a power of two
  EXPECT_FALSE(ParseIndexHeader(header, 1 << 30));
  put(28, 1024);
  put(4, 0x40000);  // a version this reader does not know
  EXPECT_FALSE(ParseIndexHeader(header, 1 << 30));
}
