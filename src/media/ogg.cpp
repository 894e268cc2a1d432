#include "media/ogg.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "media/reading.h"

namespace tovi::media {

namespace {

// A file with more streams than this starting together is not one a TV plays.
constexpr int kMaxStreams = 8;
// The last page of every stream lies in the file's last 64 KiB: pages are at most 65,307 bytes.
constexpr std::size_t kTailBytes = 64 * 1024;
constexpr std::size_t kPageHeaderBytes = 27;
constexpr std::uint64_t kOpusRate = 48000;
constexpr std::uint64_t kMaxOpusPacketSamples = 5760;
// Vorbis's block sizes are 64 to 8192 samples.
constexpr std::uint32_t kMinVorbisBlock = 64, kMaxVorbisBlock = 8192;
constexpr std::uint64_t kNoGranule = ~0ull;
// Theora frame counts past this (24 days at 1000 frames a second) are lies; it keeps frames
// times the frame rate's 32-bit denominator within 64 bits.
constexpr std::uint64_t kMaxTheoraFrames = 1ull << 31;

enum class Codec { Vorbis, Opus, Theora };

struct Stream {
  std::uint32_t serial = 0;
  Codec codec = Codec::Vorbis;
  std::uint32_t rate = 0, channels = 0, preSkip = 0;
  std::uint32_t width = 0, height = 0, frameRateNum = 0, frameRateDen = 0, granuleShift = 0;
  std::uint32_t longBlock = 0;  // Vorbis's larger block size: a packet gives at most half of it
  std::uint64_t lastGranule = kNoGranule;
  // The granule of the first sample: past 0 in a stream recorded from the middle of another (a
  // radio station's) or cut with its times kept.
  std::uint64_t firstGranule = 0;
  bool firstKnown = false;
};

std::optional<Stream> ParseIdentification(std::string_view p, std::uint32_t serial) {
  Stream s;
  s.serial = serial;
  if (p.substr(0, 7) == "\x01vorbis" && p.size() >= 16) {
    s.channels = static_cast<std::uint32_t>(LittleEndian(p, 11, 1));
    s.rate = static_cast<std::uint32_t>(LittleEndian(p, 12, 4));
    if (p.size() > 28) s.longBlock = 1u << (LittleEndian(p, 28, 1) >> 4);
  } else if (p.substr(0, 8) == "OpusHead" && p.size() >= 12) {
    s.codec = Codec::Opus;
    s.channels = static_cast<std::uint32_t>(LittleEndian(p, 9, 1));
    s.rate = kOpusRate;  // Opus decodes at 48 kHz whatever rate the source had
    s.preSkip = static_cast<std::uint32_t>(LittleEndian(p, 10, 2));
  } else if (p.substr(0, 7) == "\x80theora" && p.size() >= 42) {
    s.codec = Codec::Theora;
    s.width = static_cast<std::uint32_t>(BigEndian(p, 14, 3));
    s.height = static_cast<std::uint32_t>(BigEndian(p, 17, 3));
    s.frameRateNum = static_cast<std::uint32_t>(BigEndian(p, 22, 4));
    s.frameRateDen = static_cast<std::uint32_t>(BigEndian(p, 26, 4));
    s.granuleShift = static_cast<std::uint32_t>(BigEndian(p, 40, 2) >> 5 & 0x1f);
  } else {
    return std::nullopt;
  }
  return s;
}

// The streams that open the file: one page each, flagged as a stream's beginning.
std::vector<Stream> ReadOpeningPages(ReadWindow& window) {
  std::vector<Stream> streams;
  std::uint64_t at = 0;
  for (int page = 0; page < kMaxStreams; ++page) {
    const std::string_view head = window.Bytes(at, kPageHeaderBytes);
    if (head.size() < kPageHeaderBytes || head.substr(0, 4) != "OggS" || head[4] != 0 ||
        !(BigEndian(head, 5, 1) & 0x02))
      break;
    const auto serial = static_cast<std::uint32_t>(LittleEndian(head, 14, 4));
    const std::size_t segments = static_cast<std::size_t>(BigEndian(head, 26, 1));
    const std::string_view lacing = window.Bytes(at + kPageHeaderBytes, segments);
    if (lacing.size() != segments) break;
    std::size_t bodyBytes = 0;
    for (char l : lacing) bodyBytes += static_cast<unsigned char>(l);
    const std::string_view body = window.Bytes(at + kPageHeaderBytes + segments, bodyBytes);
    if (auto stream = ParseIdentification(body, serial)) streams.push_back(*stream);
    at += kPageHeaderBytes + segments + bodyBytes;
  }
  return streams;
}

// The 48 kHz samples an Opus packet decodes to, from its table of contents: frames of 10 to 60 ms
// (SILK), 10 or 20 ms (hybrid) or 2.5 to 20 ms (CELT), one, two or a counted number of them;
// 0 for a packet past 120 ms, which is none.
std::uint64_t OpusPacketSamples(std::string_view packet) {
  if (packet.empty()) return 0;
  const unsigned toc = static_cast<unsigned char>(packet[0]), config = toc >> 3;
  constexpr std::uint64_t kSilkFrames[4] = {480, 960, 1920, 2880};
  const std::uint64_t frame = config < 12   ? kSilkFrames[config & 3]
                              : config < 16 ? 480u << (config & 1)
                                            : 120u << (config & 3);
  const unsigned code = toc & 3;
  const std::uint64_t frames = code == 0 ? 1 : code < 3 ? 2 : BigEndian(packet, 1, 1) & 0x3f;
  return frames * frame <= kMaxOpusPacketSamples ? frames * frame : 0;
}

// The samples of the packets a stream's page ends (lacing: its segment table), at most: an Opus
// packet's from its table of contents, a Vorbis one's half its long block. Nothing when they
// cannot be told: an Opus packet begun on the page before (continued) has its table there.
std::optional<std::uint64_t> SamplesEndedOnPage(const Stream& s, bool continued,
                                                std::string_view lacing, std::string_view body) {
  const bool blocksKnown = s.longBlock >= kMinVorbisBlock && s.longBlock <= kMaxVorbisBlock;
  if (!(s.codec == Codec::Opus && !continued) && !(s.codec == Codec::Vorbis && blocksKnown)) {
    return std::nullopt;
  }
  std::uint64_t samples = 0;
  std::size_t packetAt = 0, packetBytes = 0;
  for (char l : lacing) {
    packetBytes += static_cast<unsigned char>(l);
    if (static_cast<unsigned char>(l) == 255) continue;
    if (s.codec == Codec::Vorbis) samples += s.longBlock / 2;
    if (s.codec == Codec::Opus) {
      const std::string_view packet = body.substr(std::min(packetAt, body.size()));
      const std::uint64_t packetSamples = OpusPacketSamples(packet.substr(0, packetBytes));
      if (packetSamples == 0) return std::nullopt;
      samples += packetSamples;
    }
    packetAt += packetBytes;
    packetBytes = 0;
  }
  return samples;
}

// Each stream's first sample's granule: its first page of sound's granule less the samples of
// the packets that page ends (for Vorbis at most half its long block each, so a stream that
// starts at 0 keeps 0). The pages after the opening ones are walked until every stream has one.
void ReadFirstGranules(ReadWindow& window, std::vector<Stream>& streams) {
  constexpr int kMaxHeadPages = 64;
  std::uint64_t at = 0;
  for (int page = 0; page < kMaxHeadPages; ++page) {
    const std::string head(window.Bytes(at, kPageHeaderBytes));
    if (head.size() < kPageHeaderBytes || head.compare(0, 4, "OggS") != 0) return;
    const std::size_t segments = static_cast<std::size_t>(BigEndian(head, 26, 1));
    const std::string lacing(window.Bytes(at + kPageHeaderBytes, segments));
    if (lacing.size() != segments) return;
    std::size_t bodyBytes = 0;
    for (char l : lacing) bodyBytes += static_cast<unsigned char>(l);
    const std::uint64_t granule = LittleEndian(head, 6, 8);
    const auto serial = static_cast<std::uint32_t>(LittleEndian(head, 14, 4));
    bool pending = false;
    for (Stream& s : streams) {
      if (s.serial == serial && !s.firstKnown && granule != 0 && granule != kNoGranule) {
        s.firstKnown = true;
        const std::string body(window.Bytes(at + kPageHeaderBytes + segments, bodyBytes));
        const bool continued = BigEndian(head, 5, 1) & 0x01;
        const auto samples = SamplesEndedOnPage(s, continued, lacing, body);
        if (samples && granule > *samples) s.firstGranule = granule - *samples;
      }
      pending = pending || !s.firstKnown;
    }
    if (!pending) return;
    at += kPageHeaderBytes + segments + bodyBytes;
  }
}

// Each stream's granule position on its last page in the tail that has one.
void ReadLastGranules(ReadWindow& window, std::vector<Stream>& streams) {
  const std::uint64_t size = window.Size();
  const std::uint64_t start = size - std::min<std::uint64_t>(size, kTailBytes);
  const std::string tail(window.Bytes(start, static_cast<std::size_t>(size - start)));
  std::size_t found = 0;
  for (std::size_t at = tail.size() >= kPageHeaderBytes ? tail.size() - kPageHeaderBytes + 1 : 0;
       at-- > 0 && found < streams.size();) {
    if (tail.compare(at, 4, "OggS") != 0 || tail[at + 4] != 0) continue;
    const std::uint64_t granule = LittleEndian(tail, at + 6, 8);
    const auto serial = static_cast<std::uint32_t>(LittleEndian(tail, at + 14, 4));
    for (Stream& s : streams)
      if (s.serial == serial && s.lastGranule == kNoGranule && granule != kNoGranule) {
        s.lastGranule = granule;
        ++found;
      }
  }
}

std::optional<std::uint64_t> StreamDurationMs(const Stream& s) {
  if (s.lastGranule == kNoGranule) return std::nullopt;
  switch (s.codec) {
    case Codec::Vorbis:
      return DurationMs(s.lastGranule > s.firstGranule ? s.lastGranule - s.firstGranule : 0,
                        s.rate);
    case Codec::Opus: {
      const std::uint64_t skipped = s.firstGranule + s.preSkip;
      return DurationMs(s.lastGranule > skipped ? s.lastGranule - skipped : 0, s.rate);
    }
    case Codec::Theora: {
      const std::uint64_t mask = (1ull << s.granuleShift) - 1;
      const std::uint64_t frames = (s.lastGranule >> s.granuleShift) + (s.lastGranule & mask);
      if (frames > kMaxTheoraFrames) return std::nullopt;
      return DurationMs(frames * s.frameRateDen, s.frameRateNum);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<MediaFacts> ReadOggFacts(ByteSource& source) {
  ReadWindow window(source);
  std::vector<Stream> streams = ReadOpeningPages(window);
  if (streams.empty()) return std::nullopt;
  ReadFirstGranules(window, streams);
  ReadLastGranules(window, streams);
  MediaFacts facts;
  for (const Stream& s : streams) {
    if (s.codec == Codec::Theora && !facts.width && Positive(s.width, kMaxPictureSide) &&
        Positive(s.height, kMaxPictureSide)) {
      facts.width = s.width;
      facts.height = s.height;
    }
    if (s.codec != Codec::Theora && !facts.sampleRate && Positive(s.rate, kMaxSampleRate) &&
        Positive(s.channels, kMaxChannels)) {
      facts.sampleRate = s.rate;
      facts.channels = s.channels;
    }
    const auto duration = StreamDurationMs(s);
    if (duration && (!facts.durationMs || *duration > *facts.durationMs)) facts.durationMs = duration;
  }
  if (facts.durationMs) facts.bitrate = BytesPerSecond(window.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media
