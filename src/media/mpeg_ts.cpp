#include "media/mpeg_ts.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "media/reading.h"
#include "media/h264_sps.h"

namespace tovi::media {

namespace {

// Clocks appear every 100 ms at most and the first video frame within a second or so: a few
// hundred KiB at each end hold both, and the two reads stay well inside the 1 MiB budget.
constexpr std::size_t kHeadBytes = 384 * 1024;
constexpr std::size_t kTailBytes = 384 * 1024;
constexpr std::size_t kTsPacketBytes = 188;
constexpr std::array<std::size_t, 2> kPacketBytes = {188, 192};  // TS, M2TS
// Packets in a row that must begin with the sync byte before the stream is taken for TS.
constexpr int kSyncPackets = 4;
constexpr char kSyncByte = 0x47;
constexpr std::uint64_t kClockHz = 90000;
constexpr std::uint64_t kClockWrap = 1ull << 33;
constexpr unsigned kNoPid = 0xffff;

struct Packing {
  std::size_t packetBytes = 0;
  std::size_t syncOffset = 0;  // of the first sync byte in the file
};

std::optional<Packing> FindPacking(std::string_view head) {
  for (std::size_t packetBytes : kPacketBytes)
    for (std::size_t first = 0; first < packetBytes; ++first) {
      int synced = 0;
      for (std::size_t at = first; at < head.size() && synced < kSyncPackets && head[at] == kSyncByte;
           at += packetBytes)
        ++synced;
      if (synced == kSyncPackets || (synced >= 1 && first + synced * packetBytes >= head.size()))
        return Packing{packetBytes, first};
    }
  return std::nullopt;
}

struct Packet {
  unsigned pid = 0;
  std::optional<std::uint64_t> pcr, pts;
  std::string_view esData;  // the payload after a PES header that starts in this packet
  bool video = false;
};

std::uint64_t ReadPts(std::string_view b, std::size_t at) {
  return (BigEndian(b, at, 1) >> 1 & 7) << 30 | (BigEndian(b, at + 1, 2) >> 1) << 15 | BigEndian(b, at + 3, 2) >> 1;
}

void ReadPesHeader(std::string_view payload, Packet& p) {
  if (payload.size() < 14 || payload.substr(0, 3) != std::string_view("\0\0\1", 3)) return;
  const unsigned streamId = static_cast<unsigned char>(payload[3]);
  p.video = streamId >= 0xe0 && streamId <= 0xef;
  const std::size_t headerEnd = 9 + static_cast<std::size_t>(BigEndian(payload, 8, 1));
  if (BigEndian(payload, 7, 1) & 0x80) p.pts = ReadPts(payload, 9);
  if (headerEnd < payload.size()) p.esData = payload.substr(headerEnd);
}

Packet ParsePacket(std::string_view b) {  // b: kTsPacketBytes from the sync byte
  Packet p;
  p.pid = static_cast<unsigned>(BigEndian(b, 1, 2) & 0x1fff);
  const unsigned control = static_cast<unsigned>(BigEndian(b, 3, 1) >> 4 & 3);
  std::size_t payload = 4;
  if (control & 2) {
    const std::size_t adaptationBytes = static_cast<std::size_t>(BigEndian(b, 4, 1));
    if (adaptationBytes >= 7 && (BigEndian(b, 5, 1) & 0x10)) p.pcr = BigEndian(b, 6, 6) >> 15;  // 33 bits of 90 kHz base
    payload = 5 + adaptationBytes;
  }
  const bool unitStart = BigEndian(b, 1, 1) & 0x40;
  if ((control & 1) && unitStart && payload < b.size()) ReadPesHeader(b.substr(payload), p);
  return p;
}

// An H.264 SPS in a video payload, found by its start code.
std::optional<PictureSize> FindSps(std::string_view es) {
  for (std::size_t at = es.find(std::string_view("\0\0\1", 3)); at != std::string_view::npos;
       at = es.find(std::string_view("\0\0\1", 3), at + 3))
    if (at + 3 < es.size() && (es[at + 3] & 0x1f) == 7) return ReadH264SpsSize(es.substr(at + 3));
  return std::nullopt;
}

template <typename Visit>
void ForEachPacket(std::string_view bytes, std::size_t firstSync, std::size_t packetBytes, Visit visit) {
  for (std::size_t at = firstSync; at + kTsPacketBytes <= bytes.size(); at += packetBytes)
    if (bytes[at] == kSyncByte) visit(ParsePacket(bytes.substr(at, kTsPacketBytes)));
}

// A time on the 33-bit clock as signed ticks from a reference time, so that the clock's wrap
// between the two does not matter.
std::int64_t TicksFrom(std::uint64_t reference, std::uint64_t time) {
  const std::uint64_t ahead = (time + kClockWrap - reference % kClockWrap) % kClockWrap;
  return ahead < kClockWrap / 2 ? static_cast<std::int64_t>(ahead)
                                : static_cast<std::int64_t>(ahead) - static_cast<std::int64_t>(kClockWrap);
}

// What the head says: the earliest presentation time (as ticks from the first one seen), the
// first clock reference and its PID, and the picture size.
struct Start {
  std::optional<std::uint64_t> firstPts;
  std::int64_t earliestPts = 0;
  std::optional<std::uint64_t> firstPcr;
  unsigned pcrPid = kNoPid;
  std::optional<PictureSize> picture;
};

Start ReadStart(std::string_view head, const Packing& packing) {
  Start start;
  ForEachPacket(head, packing.syncOffset, packing.packetBytes, [&](const Packet& p) {
    if (p.pcr && !start.firstPcr) {
      start.firstPcr = p.pcr;
      start.pcrPid = p.pid;
    }
    if (p.pts && !start.firstPts) start.firstPts = p.pts;
    if (p.pts) start.earliestPts = std::min(start.earliestPts, TicksFrom(*start.firstPts, *p.pts));
    if (p.video && !start.picture && !p.esData.empty()) start.picture = FindSps(p.esData);
  });
  return start;
}

// The ticks from the earliest presentation time to the end of the last frame in the tail: the
// latest time, plus the step between the latest two times of its PID (one frame, or one PES
// packet's worth of audio frames), as players count a file's length.
std::optional<std::int64_t> PtsSpan(std::string_view tail, const Packing& packing, const Start& start) {
  std::vector<std::pair<unsigned, std::int64_t>> times;  // PID, ticks from the first time
  ForEachPacket(tail, 0, packing.packetBytes, [&](const Packet& p) {
    if (p.pts) times.emplace_back(p.pid, TicksFrom(*start.firstPts, *p.pts));
  });
  if (times.empty()) return std::nullopt;
  const auto latest = *std::max_element(times.begin(), times.end(),
                                        [](const auto& a, const auto& b) { return a.second < b.second; });
  std::int64_t step = 0;
  for (const auto& [pid, ticks] : times)
    if (pid == latest.first && ticks < latest.second && (step == 0 || latest.second - ticks < step))
      step = latest.second - ticks;
  return latest.second + step - start.earliestPts;
}

// The ticks from the first to the last clock reference of one PID, for streams without
// presentation times.
std::optional<std::int64_t> PcrSpan(std::string_view tail, const Packing& packing, const Start& start) {
  std::optional<std::int64_t> span;
  ForEachPacket(tail, 0, packing.packetBytes, [&](const Packet& p) {
    if (p.pid == start.pcrPid && p.pcr) span = TicksFrom(*start.firstPcr, *p.pcr);
  });
  return span;
}

// The file's last kTailBytes, from a packet's first byte on.
std::string ReadTail(ByteSource& source, std::string_view head, const Packing& packing) {
  const std::uint64_t size = source.Size();
  std::uint64_t at = size - std::min<std::uint64_t>(size, kTailBytes);
  const std::uint64_t past = at <= packing.syncOffset ? 0 : (at - packing.syncOffset) % packing.packetBytes;
  at = at <= packing.syncOffset ? packing.syncOffset : at + (past ? packing.packetBytes - past : 0);
  if (size <= head.size()) return std::string(head.substr(std::min<std::uint64_t>(at, head.size())));
  return source.ReadString(at, kTailBytes);
}

}  // namespace

std::optional<MediaFacts> ReadMpegTsFacts(ByteSource& source) {
  const std::string head = source.ReadString(0, kHeadBytes);
  const auto packing = FindPacking(head);
  if (!packing) return std::nullopt;
  const Start start = ReadStart(head, *packing);
  MediaFacts facts;
  if (start.picture) {
    facts.width = start.picture->width;
    facts.height = start.picture->height;
  }
  if (start.firstPts || start.firstPcr) {
    const std::string tail = ReadTail(source, head, *packing);
    const auto ticks = start.firstPts ? PtsSpan(tail, *packing, start) : PcrSpan(tail, *packing, start);
    if (ticks && *ticks > 0) facts.durationMs = DurationMs(static_cast<std::uint64_t>(*ticks), kClockHz);
    if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  }
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media
