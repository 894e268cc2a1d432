// The MP4 reader on files built box by box: lying sizes, loops, zero rates and endless
// lengths give no facts or believable ones, within the source's budget.
#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/
#include "media/mp4.h"

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }

std::string Box(std::string_view type, const std::string& payload) {
  return BigEndianBytes(8 + payload.size(), 4) + std::string(type) + payload;
}

std::string LargeBox(std::string_view type, const std::string& payload) {
  return BigEndianBytes(1, 4) + std::string(type) + BigEndianBytes(16 + payload.size(), 8) + payload;
}

std::string Mvhd(int version, std::uint64_t timescale, std::uint64_t duration) {
  const std::string head = version == 1
      ? std::string("\x01\0\0\0", 4) + Zeros(16) + BigEndianBytes(timescale, 4) + BigEndianBytes(duration, 8)
      : Zeros(4) + Zeros(8) + BigEndianBytes(timescale, 4) + BigEndianBytes(duration, 4);
  return Box("mvhd", head + Zeros(80));
}

std::string Trak(std::string_view handler, std::uint64_t timescale, const std::string& entry, std::uint64_t id = 0) {
  const std::string tkhd = Box("tkhd", Zeros(12) + BigEndianBytes(id, 4) + Zeros(60) + BigEndianBytes(640u << 16, 4) +
                                           BigEndianBytes(480u << 16, 4));
  const std::string mdhd = Box("mdhd", Zeros(12) + BigEndianBytes(timescale, 4) + BigEndianBytes(0, 4) + Zeros(4));
  const std::string hdlr = Box("hdlr", Zeros(8) + std::string(handler) + Zeros(13));
  const std::string stsd = Box("stsd", Zeros(4) + BigEndianBytes(1, 4) + entry);
  return Box("trak", tkhd + Box("mdia", mdhd + hdlr + Box("minf", Box("stbl", stsd))));
}

// A coded 320x240 picture (its tkhd says 640x480 for display) and a 2-channel 44.1 kHz sound.
std::string Tracks(std::uint64_t timescale = 44100) {
  const std::string video = Box("avc1", Zeros(24) + BigEndianBytes(320, 2) + BigEndianBytes(240, 2) + Zeros(50));
  const std::string audio =
      Box("mp4a", Zeros(16) + BigEndianBytes(2, 2) + BigEndianBytes(16, 2) + Zeros(4) + BigEndianBytes(44100u << 16, 4));
  return Trak("vide", 25, video) + Trak("soun", timescale, audio);
}

const std::string kFtyp = Box("ftyp", "isom" + Zeros(4) + "isom");
const std::string kMdat = Box("mdat", Zeros(100));
const std::string kMoov = Box("moov", Mvhd(0, 1000, 3030) + Tracks());

std::string Nested(std::string_view type, int depth) {
  std::string inner = Mvhd(0, 1000, 3030);
  for (int i = 0; i < depth; ++i) inner = Box(type, inner);
  return inner;
}

TEST(Mp4Facts, HostileFilesGiveNoFactsOrSaneOnes) {
  std::string manyBoxes;
  for (int i = 0; i < 100000; ++i) manyBoxes += Box("free", "");
  const HostileCase cases[] = {
      {"moov after mdat", kFtyp + kMdat + kMoov, 3030, 320},
      {"moov first", kFtyp + kMoov + kMdat, 3030, 320},
      {"version 1 movie header", kFtyp + Box("moov", Mvhd(1, 1000, 3030) + Tracks()), 3030, 320},
      {"64-bit mdat size", kFtyp + LargeBox("mdat", Zeros(40)) + kMoov, 3030, 320},
      {"zero timescales", kFtyp + Box("moov", Mvhd(0, 0, 3030) + Tracks(0)), std::nullopt, 320},
      {"2^64-1 duration", kFtyp + Box("moov", Mvhd(1, 1000, ~0ull) + Tracks()), std::nullopt, 320},
      {"2^64-2 duration", kFtyp + Box("moov", Mvhd(1, 1, ~0ull - 1) + Tracks()), std::nullopt, 320},
      {"mdat size past the end", kFtyp + BigEndianBytes(1u << 30, 4) + "mdat" + kMoov, std::nullopt, std::nullopt},
      {"moov size past the end", kFtyp + BigEndianBytes(1u << 30, 4) + kMoov.substr(4), std::nullopt, std::nullopt},
      {"zero-size mdat reaches the end", kFtyp + BigEndianBytes(0, 4) + "mdat" + kMoov, std::nullopt, std::nullopt},
      {"box smaller than its header", kFtyp + BigEndianBytes(4, 4) + "free" + kMoov, std::nullopt, std::nullopt},
      {"zero-size box inside moov", kFtyp + Box("moov", Mvhd(0, 1000, 3030) + BigEndianBytes(0, 4) + "trak"),
       3030, std::nullopt},
      {"100000 empty boxes in moov", kFtyp + Box("moov", manyBoxes + Mvhd(0, 1000, 3030)), std::nullopt, std::nullopt},
      {"100000 empty boxes at the top", kFtyp + manyBoxes + kMoov, std::nullopt, std::nullopt},
      {"a track inside a track", kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Box("trak", Tracks())), 3030, std::nullopt},
      {"moov in moov 1000 deep", kFtyp + Nested("moov", 1000), std::nullopt, std::nullopt},
      {"not a media file", "GIF89a" + Zeros(100), std::nullopt, std::nullopt},
      {"sound track without a sample entry",
       kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Tracks().substr(0, Tracks().rfind("trak") - 4) +
                               Trak("soun", 44100, "")),
       3030, 320},
      {"sound track with a 3-byte sample entry",
       kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Trak("soun", 44100, "abc")), 3030, std::nullopt},
      {"fragments after a moov of the first part: mehd's length",
       kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Tracks() + Box("mvex", Box("mehd", Zeros(4) + BigEndianBytes(7200000, 4)))) +
           kMdat + Box("moof", "") + kMdat,
       7200000, 320},
      {"fragments after a moov of the first part, no mehd: no length",
       kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Tracks() + Box("mvex", "")) + kMdat + Box("moof", "") + kMdat,
       std::nullopt, 320},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadMp4Facts, c);
  testing::ReadEveryPrefix(ReadMp4Facts, kFtyp + kMoov + kMdat);

  // moov behind a 5 GiB mdat (a 64-bit size) is found with a jump, not by reading the mdat.
  const std::uint64_t mdatSize = 5ull << 30;
  testing::SparseSource big(kFtyp.size() + mdatSize + kMoov.size());
  big.Write(0, kFtyp + BigEndianBytes(1, 4) + "mdat" + BigEndianBytes(mdatSize, 8));
  big.Write(kFtyp.size() + mdatSize, kMoov);
  const std::optional<MediaFacts> facts = testing::ReadChecked(ReadMp4Facts, big);
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->durationMs, 3030u);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
  EXPECT_EQ(facts->bitrate, big.Size() * 1000 / 3030);
}

TEST(Mp4Facts, AmrSoundIsMono) {
  // A phone's 3GPP video or voice memo: its AMR entry says 2 channels, as 3GPP has every file say.
  for (const std::string_view format : {"samr", "sawb"}) {
    const std::string amr =
        Box(format, Zeros(16) + BigEndianBytes(2, 2) + BigEndianBytes(16, 2) + Zeros(4) + BigEndianBytes(8000u << 16, 4));
    const auto facts = testing::ReadChecked(ReadMp4Facts, kFtyp + Box("moov", Mvhd(0, 1000, 3030) + Trak("soun", 8000, amr)));
    ASSERT_TRUE(facts) << format;
    EXPECT_EQ(facts->channels, 1u) << format;
    EXPECT_EQ(facts->sampleRate, 8000u) << format;
  }
}

TEST(Mp4Facts, FragmentedFilmEndsWhereItsLastFragmentEnds) {
  // Track 1 in milliseconds; its moov times its first minute, its fragments' samples last 40 ms
  // unless they say. The last fragment starts at 1:59:00; the index closing the file names it,
  // or there is none.
  const std::string video = Box("avc1", Zeros(24) + BigEndianBytes(320, 2) + BigEndianBytes(240, 2) + Zeros(50));
  const std::string trex = Box("trex", Zeros(4) + BigEndianBytes(1, 4) + Zeros(4) + BigEndianBytes(40, 4) + Zeros(8));
  const std::string head = kFtyp + Box("moov", Mvhd(0, 1000, 60000) + Trak("vide", 1000, video, 1) + Box("mvex", trex));
  const auto fragment = [](std::uint64_t start, const std::string& run) {
    return Box("moof", Box("mfhd", Zeros(8)) + Box("traf", Box("tfhd", Zeros(4) + BigEndianBytes(1, 4)) +
                                       Box("tfdt", Zeros(4) + BigEndianBytes(start, 4)) + Box("trun", run))) + kMdat;
  };
  const std::string runs[] = {
      Zeros(4) + BigEndianBytes(1500, 4),  // 1500 samples of the default length
      BigEndianBytes(0x100, 4) + BigEndianBytes(2, 4) + BigEndianBytes(30000, 4) + BigEndianBytes(30000, 4),
      // A fragment of a film with rare key frames: 20000 samples of 3 ms, an 80 KB table.
      BigEndianBytes(0x100, 4) + BigEndianBytes(20000, 4) + [] {
        std::string lengths;
        for (int i = 0; i < 20000; ++i) lengths += BigEndianBytes(3, 4);
        return lengths;
      }(),
  };
  for (const std::string& run : runs) {
    const std::string body = head + kMdat + fragment(60000, run);
    const std::string last = fragment(7140000, run);
    const std::string tfra = Box("tfra", Zeros(4) + BigEndianBytes(1, 4) + Zeros(4) + BigEndianBytes(1, 4) +
                                             BigEndianBytes(7140000, 4) + BigEndianBytes(body.size(), 4) + "\1\1\1");
    const std::string mfra = Box("mfra", tfra + Box("mfro", Zeros(4) + BigEndianBytes(8 + tfra.size() + 16, 4)));
    const auto facts = testing::ReadChecked(ReadMp4Facts, body + last + mfra);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->durationMs, 7200000u);
    // A recording written fragment by fragment has no index, and one stopped amid a fragment
    // ends in a moof the file cuts short: the last whole one is found from the end.
    const auto unindexed = testing::ReadChecked(ReadMp4Facts, body + last + fragment(7200000, run).substr(0, 40));
    ASSERT_TRUE(unindexed);
    EXPECT_EQ(unindexed->durationMs, 7200000u);
  }
}

}  // namespace
}  // namespace tovi::media
