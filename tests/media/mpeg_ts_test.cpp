// The transport stream reader on streams built packet by packet: lengths from presentation
// times across the 33-bit clock's wrap, from clock references alone, in 192-byte packets, of
// the first program of a multiplex and in a 5 GiB file read only at its ends; and streams
// without sync, with lying adaptation and PES lengths or times that never move give no facts or
// believable ones, within the budget.
#include "media/mpeg_ts.h"

#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

constexpr std::uint64_t kWrap = 1ull << 33;
constexpr std::uint64_t kFrameTicks = 3600;  // 25 frames a second on the 90 kHz clock
constexpr unsigned kVideoPid = 0x100;

std::string Pts(std::uint64_t pts) {
  return BigEndianBytes(0x21 | (pts >> 29 & 0x0e), 1) + BigEndianBytes((pts >> 14 & 0xfffe) | 1, 2) +
         BigEndianBytes((pts << 1 & 0xfffe) | 1, 2);
}

std::string Pes(std::uint64_t pts, unsigned streamId = 0xe0) {
  return std::string("\0\0\1", 3) + BigEndianBytes(streamId, 1) + std::string(2, '\0') + "\x80\x80\x05" +
         Pts(pts) + "payload";
}

// One 188-byte packet: an adaptation field (with a clock reference when given), then payload.
std::string Packet(unsigned pid, const std::string& payload, std::optional<std::uint64_t> pcr = std::nullopt,
                   bool unitStart = true) {
  std::string adaptation;
  if (pcr) adaptation = "\x10" + BigEndianBytes(*pcr << 15 | 0x7e00, 6);
  const std::size_t stuffing = 188 - 4 - 1 - adaptation.size() - payload.size();
  adaptation = BigEndianBytes(adaptation.size() + stuffing, 1) + adaptation + std::string(stuffing, '\xff');
  if (adaptation.size() == 1 + stuffing && stuffing > 0) adaptation[1] = '\0';  // no flags set
  return "\x47" + BigEndianBytes((unitStart ? 0x4000 : 0) | pid, 2) + "\x30" + adaptation + payload;
}

// count video frames from firstPts, one PES packet each.
std::string Frames(std::uint64_t firstPts, int count) {
  std::string stream;
  for (int i = 0; i < count; ++i) stream += Packet(kVideoPid, Pes((firstPts + i * kFrameTicks) % kWrap));
  return stream;
}

// A key picture's first packet: its PES header, then its SPS (170x90).
std::string KeyFrame(std::uint64_t pts) {
  const std::string sps("\0\0\0\1\x67\x42\xc0\x0b\xda\x0b\x37\x92\x4c\x04\x40\0\0\x03\0\x40\0\0\x0c\x83\xc5\x0a\xa8", 27);
  return Packet(kVideoPid, Pes(pts).substr(0, 14) + sps);
}

std::string M2ts(const std::string& ts) {
  std::string out;
  for (std::size_t at = 0; at + 188 <= ts.size(); at += 188) out += std::string(4, '\0') + ts.substr(at, 188);
  return out;
}

TEST(MpegTsFacts, HostileStreamsGiveNoFactsOrSaneOnes) {
  std::string clocksOnly;
  for (int i = 0; i <= 30; ++i) clocksOnly += Packet(0x1ff, "", i * 9000ull);
  std::string lyingAdaptation = Frames(0, 10);
  for (std::size_t at = 0; at < lyingAdaptation.size(); at += 188) lyingAdaptation[at + 4] = '\xff';
  std::string lyingPes = Frames(0, 10);
  for (std::size_t at = 0; at < lyingPes.size(); at += 188)
    lyingPes[at + 4 + static_cast<unsigned char>(lyingPes[at + 4]) + 1 + 8] = '\xff';
  const HostileCase cases[] = {
      {"25 frames: 1 s to the last frame's end", Frames(90000, 25), 1000, std::nullopt},
      {"across the clock's wrap", Frames(kWrap - 10 * kFrameTicks, 25), 1000, std::nullopt},
      {"192-byte packets", M2ts(Frames(90000, 25)), 1000, std::nullopt},
      {"clock references alone", clocksOnly, 3000, std::nullopt},
      {"times that never move", Frames(0, 1) + Frames(0, 1) + Frames(0, 1), std::nullopt, std::nullopt},
      {"adaptation fields longer than their packets", lyingAdaptation, std::nullopt, std::nullopt},
      {"PES headers longer than their packets", lyingPes, 1000 * 10 / 25, std::nullopt},
      {"no sync byte", std::string(188 * 10, '\x46'), std::nullopt, std::nullopt},
      {"sync bytes and nothing else", std::string(188 * 10, '\x47'), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadMpegTsFacts, c);
  testing::ReadEveryPrefix(ReadMpegTsFacts, Frames(90000, 6));
}

// A table section in its own packet: the pointer field, the table's id and length, its fields
// and a CRC (not checked).
std::string Table(unsigned pid, unsigned tableId, const std::string& fields) {
  const std::string length = BigEndianBytes(0xb000 | (fields.size() + 4), 2);
  return Packet(pid, std::string(1, '\0') + BigEndianBytes(tableId, 1) + length + fields + "CRC!");
}

TEST(MpegTsFacts, MultiplexIsReadForTheFirstProgramItLists) {
  // Programs 1 and 2 of a broadcast multiplex, each a video stream on a clock of its own, three
  // hours apart, their packets in turn; then program 1's PMT moves it to another PID, on its
  // clock: the length is program 1's, 2 s.
  const auto pid13 = [](unsigned pid) { return BigEndianBytes(0xe000 | pid, 2); };
  const std::string header = BigEndianBytes(0xc10000, 3);  // version, section 0 of 0
  const auto pmt = [&](unsigned program, unsigned pid) {  // one H.264 stream, its clock's PID too
    const std::string video = BigEndianBytes(0x1b, 1) + pid13(pid) + BigEndianBytes(0xf000, 2);
    return Table(0x1000 + program - 1, 0x02,
                 BigEndianBytes(program, 2) + header + pid13(pid) + BigEndianBytes(0xf000, 2) + video);
  };
  std::string stream = Table(0, 0x00, BigEndianBytes(1, 2) + header + BigEndianBytes(1, 2) + pid13(0x1000) +
                                          BigEndianBytes(2, 2) + pid13(0x1001));
  stream += pmt(1, kVideoPid) + pmt(2, 0x200);
  for (int i = 0; i < 25; ++i) {
    stream += Packet(kVideoPid, Pes(90000 + i * kFrameTicks));
    stream += Packet(0x200, Pes(3 * 3600 * 90000ull + i * kFrameTicks));
  }
  stream += pmt(1, 0x300);
  for (int i = 25; i < 50; ++i) stream += Packet(0x300, Pes(90000 + i * kFrameTicks));
  const auto facts = testing::ReadChecked(ReadMpegTsFacts, stream);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->durationMs, 2000u);
}

TEST(MpegTsFacts, LongStreamIsReadOnlyAtItsEnds) {
  // A 5 GiB stream of 188-byte packets: frames at its start (a key picture first) and, an hour
  // later, at its end; also with 100 bytes more somewhere between (a receiver's glitch), which
  // puts the end's packets on another grid than the start's.
  for (const std::uint64_t extra : {0, 100}) {
    const std::uint64_t size = (5ull << 30) / 188 * 188 + extra;
    testing::SparseSource source(size);
    source.Write(0, KeyFrame(90000) + Frames(90000 + kFrameTicks, 9));
    const std::string tail = Frames(90000 + 3600 * 90000ull - 9 * kFrameTicks, 10);
    source.Write(size - tail.size(), tail);
    const auto facts = testing::ReadChecked(ReadMpegTsFacts, source);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->durationMs, 3600000u + 40) << extra << " bytes more";
    EXPECT_LE(source.Reads(), 2);
  }
}

TEST(MpegTsFacts, SpsInALaterPacketOfTheFirstPictureGivesItsSize) {
  // A remux from MP4 (what ffmpeg -c copy makes): the first picture's access unit delimiter, the
  // encoder's SEI filling the rest of the packet, then the SPS (170x90) in the PES's next packet.
  const std::string sei = std::string("\0\0\1\x06\x05", 5) + std::string(160, 'x');
  const std::string first = Pes(90000).substr(0, 14) + std::string("\0\0\0\1\x09\xf0", 6) + sei;
  const std::string sps("\0\0\0\1\x67\x42\xc0\x0b\xda\x0b\x37\x92\x4c\x04\x40\0\0\x03\0\x40\0\0\x0c\x83\xc5\x0a\xa8", 27);
  const std::string stream = Packet(kVideoPid, first.substr(0, 183)) +
                             Packet(kVideoPid, std::string(40, 'x') + sps, std::nullopt, false) +
                             Frames(90000 + kFrameTicks, 24);
  const auto facts = testing::ReadChecked(ReadMpegTsFacts, stream);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 170u);
  EXPECT_EQ(facts->height, 90u);
}

TEST(MpegTsFacts, RecordingCutAmidAGroupOfPicturesGivesItsNextSps) {
  // An HD broadcast recorded from amid a group of pictures: 2 MB of pictures without an SPS,
  // far more than the head, then a key picture's (170x90) and ten pictures more.
  constexpr int kBefore = 11000;
  const std::string stream = Frames(90000, kBefore) + KeyFrame(90000 + kBefore * kFrameTicks) +
                             Frames(90000 + (kBefore + 1) * kFrameTicks, 10);
  const auto facts = testing::ReadChecked(ReadMpegTsFacts, stream);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->width, 170u);
  EXPECT_EQ(facts->height, 90u);
  EXPECT_EQ(facts->durationMs, (kBefore + 11) * 40u);
}

TEST(MpegPsFacts, PacketStartingAmidAPictureGivesNoPictureSize) {
  // A DVD's second part (VTS_01_2.VOB) starts amid a film: a video packet whose first start code
  // is MPEG-2 slice 7, ahead of the next sequence header (720x576).
  const std::string pack("\0\0\1\xba\x44\x00\x04\x00\x04\x01\x01\x89\xc3\xf8", 14);
  const auto video = [&](std::uint64_t pts, const std::string& payload) {
    const std::string body = "\x80\x80\x05" + Pts(pts) + payload;
    return pack + std::string("\0\0\1\xe0", 4) + BigEndianBytes(body.size(), 2) + body;
  };
  std::string slices;
  for (char slice = 7; slice < 12; ++slice)
    slices += std::string("\0\0\1", 3) + slice + "\x12\x70\x10\x14\x70";
  const std::string stream = video(0, slices) + video(3600, std::string("\0\0\1\xb3\x2d\x02\x40\x13", 8));
  testing::ExpectCase(ReadMpegPsFacts, {"slice 7 first", stream, 80, 720});
}

}  // namespace
}  // namespace tovi::media
