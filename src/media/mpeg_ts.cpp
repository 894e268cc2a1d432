#include "media/mpeg_ts.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "media/audio_frames.h"
#include "media/h264_sps.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// Clocks appear every 100 ms at most and the first video frame within a second or so: a few
// hundred KiB at each end hold both, in 1 MiB of the source's budget.
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
// A broadcast carries a few sound tracks; sound PIDs past this many are not looked at.
constexpr std::size_t kMaxSoundStreams = 16;
// The most of a video PES looked through for its SPS: a remux from MP4 or Matroska puts the
// parameter sets after the encoder's SEI (x264's or x265's settings, up to a few KiB).
constexpr std::size_t kMaxSpsSearchBytes = 16 * 1024;
// A recording cut amid a group of pictures holds no SPS (nor MPEG-2 sequence header) until its
// next key picture: at an HD broadcast's 14 Mb/s the head is 0.2 s of it, and a group may last
// 2 s. Past a head without one, the video is read on for this much more, in steps, up to the
// first: with the head, 2.2 s at 14 Mb/s, 3.8 s at 8, so a group of 2 s at the highest broadcast
// rates. It costs only such a file, half a group's bytes on average (0.9 MB for 1 s groups at
// 14 Mb/s), and never a file without pictures.
constexpr std::size_t kMaxPictureLookBytes = 3 * 1024 * 1024 + 256 * 1024;
constexpr std::size_t kPictureLookStepBytes = 256 * 1024;

struct Packing {
  std::size_t packetBytes = 0;
  std::size_t syncOffset = 0;  // of the first sync byte in the file
};

// The first place in [from, to) where kSyncPackets sync bytes packetBytes apart begin (or fewer
// that reach the end of bytes).
std::optional<std::size_t> FindSync(std::string_view bytes, std::size_t packetBytes, std::size_t from,
                                    std::size_t to) {
  for (std::size_t first = from; first < to; ++first) {
    int synced = 0;
    for (std::size_t at = first; at < bytes.size() && synced < kSyncPackets && bytes[at] == kSyncByte;
         at += packetBytes)
      ++synced;
    if (synced == kSyncPackets || (synced >= 1 && first + synced * packetBytes >= bytes.size())) return first;
  }
  return std::nullopt;
}

std::optional<Packing> FindPacking(std::string_view head) {
  for (std::size_t packetBytes : kPacketBytes)
    if (const auto first = FindSync(head, packetBytes, 0, packetBytes)) return Packing{packetBytes, *first};
  return std::nullopt;
}

struct Packet {
  unsigned pid = 0;
  std::optional<std::uint64_t> pcr, pts;
  std::string_view esData;  // the payload after a PES header that starts in this packet
  std::string_view more;    // the payload of a packet that goes on with a PES begun before
  std::string_view section;  // a table section that starts in this packet (PAT, PMT)
  bool video = false;
};

std::uint64_t ReadPts(std::string_view b, std::size_t at) {
  return (BigEndian(b, at, 1) >> 1 & 7) << 30 | (BigEndian(b, at + 1, 2) >> 1) << 15 |
         BigEndian(b, at + 3, 2) >> 1;
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
    if (adaptationBytes >= 7 && (BigEndian(b, 5, 1) & 0x10))
      p.pcr = BigEndian(b, 6, 6) >> 15;  // 33 bits of 90 kHz base
    payload = 5 + adaptationBytes;
  }
  const bool unitStart = BigEndian(b, 1, 1) & 0x40;
  if ((control & 1) && unitStart && payload < b.size()) {
    ReadPesHeader(b.substr(payload), p);
    // A section begins past its pointer field.
    const std::size_t section = payload + 1 + static_cast<std::size_t>(BigEndian(b, payload, 1));
    if (section < b.size()) p.section = b.substr(section);
  } else if ((control & 1) && payload < b.size()) {
    p.more = b.substr(payload);
  }
  return p;
}

// A program of the multiplex, as the PAT lists it, with the PIDs of its streams and of its
// clock as its PMT names them (none until the PMT is read).
struct Program {
  unsigned number = 0, pmtPid = kNoPid;
  std::vector<unsigned> pids;

  bool Holds(unsigned pid) const { return std::find(pids.begin(), pids.end(), pid) != pids.end(); }
};

// A section's bytes from its table id to its CRC, as far as this packet holds them.
std::string_view SectionBody(std::string_view section, unsigned tableId) {
  if (section.size() < 12 || BigEndian(section, 0, 1) != tableId) return std::string_view();
  const std::size_t end = 3 + static_cast<std::size_t>(BigEndian(section, 1, 2) & 0xfff);
  return section.substr(0, std::min(section.size(), end < 4 ? 0 : end - 4));
}

// The programs in the PAT's order; program 0 names the network, no program.
std::vector<Program> ReadPat(std::string_view section) {
  const std::string_view body = SectionBody(section, 0x00);
  std::vector<Program> programs;
  for (std::size_t at = 8; at + 4 <= body.size(); at += 4) {
    const auto number = static_cast<unsigned>(BigEndian(body, at, 2));
    const auto pmtPid = static_cast<unsigned>(BigEndian(body, at + 2, 2) & 0x1fff);
    if (number != 0) programs.push_back({number, pmtPid, {}});
  }
  return programs;
}

void ReadPmt(std::string_view section, Program& program) {
  const std::string_view body = SectionBody(section, 0x02);
  if (body.empty() || BigEndian(body, 3, 2) != program.number) return;
  program.pids.push_back(static_cast<unsigned>(BigEndian(body, 8, 2) & 0x1fff));  // its clock
  std::size_t at = 12 + static_cast<std::size_t>(BigEndian(body, 10, 2) & 0xfff);
  for (; at + 5 <= body.size(); at += 5 + static_cast<std::size_t>(BigEndian(body, at + 3, 2) & 0xfff))
    program.pids.push_back(static_cast<unsigned>(BigEndian(body, at + 1, 2) & 0x1fff));
}

// The picture size of a video payload, found by its start codes: an MPEG-1/2 sequence header's,
// or an H.264 or H.265 SPS's. A payload that starts MPEG-1/2 pictures (a picture, GOP or
// sequence start code) holds no SPS: its slices' start codes would read as one.
std::optional<PictureSize> FindSps(std::string_view es) {
  bool mpeg2 = false;
  for (std::size_t at = es.find(std::string_view("\0\0\1", 3)); at != std::string_view::npos;
       at = es.find(std::string_view("\0\0\1", 3), at + 3)) {
    if (at + 3 >= es.size()) break;
    const auto code = static_cast<unsigned char>(es[at + 3]);
    if (code == 0xb3) {  // sequence header: 12 bits of width, 12 of height
      if (at + 7 > es.size()) return std::nullopt;
      const std::uint64_t sizes = BigEndian(es, at + 4, 3);
      const PictureSize size{static_cast<std::uint32_t>(sizes >> 12),
                             static_cast<std::uint32_t>(sizes & 0xfff)};
      if (size.width == 0 || size.height == 0) return std::nullopt;
      return size;
    }
    if (code == 0x00 || code == 0xb8 || code == 0xb5) mpeg2 = true;
    // H.264's SPS: type 7 with a reference idc, which an SPS never leaves 0 (an MPEG-2 slice of
    // a program stream's packet that starts amid a picture has start code 7).
    if (!mpeg2 && (code & 0x80) == 0 && (code & 0x60) != 0 && (code & 0x1f) == 7)
      return ReadH264SpsSize(es.substr(at + 3));
    // H.265's SPS: type 33 in the first header byte, layer 0 and a temporal id in the second.
    const unsigned layerAndTid = at + 4 < es.size() ? static_cast<unsigned char>(es[at + 4]) : 0;
    if (!mpeg2 && code == 0x42 && (layerAndTid & 0xf8) == 0 && (layerAndTid & 7) != 0)
      return ReadHevcSpsSize(es.substr(at + 3));
  }
  return std::nullopt;
}

// A recording that lost or gained bytes on the way (a receiver's glitch, a cut) has packets on
// another grid after them: the walk finds the sync again where it is lost.
template <typename Visit>
void ForEachPacket(std::string_view bytes, std::size_t firstSync, std::size_t packetBytes, Visit visit) {
  for (std::size_t at = firstSync; at + kTsPacketBytes <= bytes.size(); at += packetBytes) {
    if (bytes[at] != kSyncByte) {
      const auto found = FindSync(bytes, packetBytes, at, bytes.size());
      if (!found || *found + kTsPacketBytes > bytes.size()) return;
      at = *found;
    }
    visit(ParsePacket(bytes.substr(at, kTsPacketBytes)));
  }
}

// A program stream's PES header after its length field (MPEG-2's flags and header length, or
// MPEG-1's stuffing, buffer size and time fields): the presentation time and where the payload
// starts, nothing when the bytes are neither.
std::optional<std::size_t> ReadPsPesHeader(std::string_view pes, Packet& p) {
  if (pes.size() < 3) return std::nullopt;
  if ((BigEndian(pes, 0, 1) & 0xc0) == 0x80) {  // MPEG-2
    if (BigEndian(pes, 1, 1) & 0x80) p.pts = ReadPts(pes, 3);
    return 3 + static_cast<std::size_t>(BigEndian(pes, 2, 1));
  }
  std::size_t at = 0;
  while (at < pes.size() && at < 16 && pes[at] == '\xff') ++at;  // stuffing
  if ((BigEndian(pes, at, 1) & 0xc0) == 0x40) at += 2;          // buffer scale and size
  const unsigned marker = static_cast<unsigned>(BigEndian(pes, at, 1) >> 4);
  if (marker == 2 || marker == 3) p.pts = ReadPts(pes, at);
  if (marker == 2) return at + 5;
  if (marker == 3) return at + 10;
  if (BigEndian(pes, at, 1) == 0x0f) return at + 1;
  return std::nullopt;
}

// A PES packet's facts in a program stream: its stream id (a private stream's with its
// substream's, as DVDs carry AC-3), its time, and a payload that starts with a sound frame's
// header where the stream says where one starts.
Packet ParsePsPes(std::string_view pes) {  // from the start code to the packet's end
  Packet p;
  const unsigned streamId = static_cast<unsigned char>(pes[3]);
  p.pid = streamId << 8;
  p.video = streamId >= 0xe0 && streamId <= 0xef;
  const auto payloadAt = ReadPsPesHeader(pes.substr(6), p);
  if (!payloadAt || 6 + *payloadAt >= pes.size()) return p;
  std::string_view payload = pes.substr(6 + *payloadAt);
  if (streamId == 0xbd) {  // substream id, frame count, offset of the first frame from byte 3 on
    const auto substream = static_cast<unsigned>(BigEndian(payload, 0, 1));
    const auto firstFrame = static_cast<std::size_t>(BigEndian(payload, 2, 2));
    p.pid |= substream;
    const bool ac3 = substream >= 0x80 && substream <= 0x87;
    payload = ac3 && firstFrame != 0 && 3 + firstFrame < payload.size() ? payload.substr(3 + firstFrame)
                                                                          : std::string_view();
  }
  if (p.pts || streamId != 0xbd) p.esData = payload;
  return p;
}

// Each pack header (its system clock reference as the packet's clock) and each PES packet of
// the program stream in bytes, from the first pack header on, following the packets' lengths;
// a length that lands on no start code is left by looking for the next pack header.
template <typename Visit>
void ForEachPsPacket(std::string_view bytes, Visit visit) {
  constexpr std::string_view kPack("\0\0\1\xba", 4);
  for (std::size_t at = bytes.find(kPack); at != std::string_view::npos && at + 6 <= bytes.size();) {
    const auto code = static_cast<unsigned char>(bytes[at + 3]);
    std::size_t length = 0;
    if (bytes.substr(at, 3) != std::string_view("\0\0\1", 3) || code < 0xb9) {
      at = bytes.find(kPack, at + 1);
      continue;
    }
    if (code == 0xb9) break;  // program end
    if (code == 0xba) {
      Packet p;
      p.pid = 0xba;
      const auto mode = BigEndian(bytes, at + 4, 1);
      if ((mode & 0xc0) == 0x40) {  // MPEG-2: 2 bits, then the clock's 33 with markers
        const std::uint64_t b = BigEndian(bytes, at + 4, 6);
        p.pcr = (b >> 43 & 7) << 30 | (b >> 27 & 0x7fff) << 15 | (b >> 11 & 0x7fff);
        length = 14 + (BigEndian(bytes, at + 13, 1) & 7);
      } else if ((mode & 0xf0) == 0x20) {  // MPEG-1: laid out as a presentation time
        p.pcr = ReadPts(bytes, at + 4);
        length = 12;
      } else {
        at = bytes.find(kPack, at + 1);
        continue;
      }
      if (at + length > bytes.size()) break;
      visit(p);
    } else {
      length = 6 + static_cast<std::size_t>(BigEndian(bytes, at + 4, 2));
      const bool pes = code == 0xbd || (code >= 0xc0 && code <= 0xef);
      if (pes) visit(ParsePsPes(bytes.substr(at, length)));
    }
    at += length;
  }
}

// A time on the 33-bit clock as signed ticks from a reference time, so that the clock's wrap
// between the two does not matter.
std::int64_t TicksFrom(std::uint64_t reference, std::uint64_t time) {
  const std::uint64_t ahead = (time + kClockWrap - reference % kClockWrap) % kClockWrap;
  return ahead < kClockWrap / 2 ? static_cast<std::int64_t>(ahead)
                                : static_cast<std::int64_t>(ahead) - static_cast<std::int64_t>(kClockWrap);
}

// A sound stream's first frame header, by its PID.
struct SoundStream {
  unsigned pid = kNoPid;
  AudioFrame frame;
};

// The picture size, from the packets shown to it: each video PES that starts while none is found
// is looked through, over its packets, for an SPS or a sequence header.
struct PictureSearch {
  std::optional<PictureSize> picture;
  unsigned videoPid = kNoPid;
  std::string video;  // the PES's bytes so far, over its packets

  void Visit(const Packet& p) {
    if (picture) return;
    if (p.video && !p.esData.empty()) {
      picture = FindSps(p.esData);
      videoPid = p.pid;
      video.assign(p.esData.substr(0, kMaxSpsSearchBytes));
    } else if (p.pid == videoPid && !p.more.empty() && video.size() < kMaxSpsSearchBytes) {
      video.append(p.more.substr(0, kMaxSpsSearchBytes - video.size()));
      picture = FindSps(video);
    }
  }
};

// What the head says: the earliest presentation time (as ticks from the first one seen), the
// first clock reference and its PID, the picture size and the sound streams.
struct Start {
  std::optional<std::uint64_t> firstPts;
  std::int64_t earliestPts = 0;
  std::optional<std::uint64_t> firstPcr;
  unsigned pcrPid = kNoPid;
  PictureSearch picture;
  std::vector<SoundStream> sounds;

  const SoundStream* Sound(unsigned pid) const {
    for (const SoundStream& s : sounds)
      if (s.pid == pid) return &s;
    return nullptr;
  }
};

void NoteSound(Start& start, const Packet& p) {
  if (p.video || p.esData.empty() || start.sounds.size() >= kMaxSoundStreams || start.Sound(p.pid)) return;
  if (const auto frame = ParseAudioFrame(p.esData)) start.sounds.push_back({p.pid, *frame});
}

template <typename Walk>
Start ReadStart(Walk walk) {
  Start start;
  walk([&](const Packet& p) {
    if (p.pcr && !start.firstPcr) {
      start.firstPcr = p.pcr;
      start.pcrPid = p.pid;
    }
    if (p.pts && !start.firstPts) start.firstPts = p.pts;
    if (p.pts) start.earliestPts = std::min(start.earliestPts, TicksFrom(*start.firstPts, *p.pts));
    start.picture.Visit(p);
    NoteSound(start, p);
  });
  return start;
}

using PidTimes = std::vector<std::pair<unsigned, std::int64_t>>;  // PID, ticks from the first time

// Where one PID's last frame ends: its latest time plus one frame, a sound frame's samples or,
// for pictures, the least step between two of its times in order (a program stream times only
// the packets a picture starts in, so the times next to the latest may be several pictures apart).
std::int64_t StreamEnd(const PidTimes& times, unsigned pid, const Start& start) {
  std::vector<std::int64_t> own;
  for (const auto& [p, ticks] : times)
    if (p == pid) own.push_back(ticks);
  std::sort(own.begin(), own.end());
  const std::int64_t latest = own.back();
  if (const SoundStream* sound = start.Sound(pid); sound && sound->frame.sampleRate)
    return latest + static_cast<std::int64_t>(sound->frame.samples * kClockHz / sound->frame.sampleRate);
  std::int64_t step = 0;
  for (std::size_t i = 1; i < own.size(); ++i)
    if (own[i] > own[i - 1] && (step == 0 || own[i] - own[i - 1] < step)) step = own[i] - own[i - 1];
  return latest + step;
}

// The ticks from the earliest presentation time to the end of the last frame of any stream in
// the tail, as players count a file's length.
template <typename Walk>
std::optional<std::int64_t> PtsSpan(Walk walk, const Start& start) {
  PidTimes times;
  walk([&](const Packet& p) {
    if (p.pts) times.emplace_back(p.pid, TicksFrom(*start.firstPts, *p.pts));
  });
  std::optional<std::int64_t> end;
  std::vector<unsigned> seen;
  for (const auto& [pid, ticks] : times) {
    if (std::find(seen.begin(), seen.end(), pid) != seen.end()) continue;
    seen.push_back(pid);
    const std::int64_t streamEnd = StreamEnd(times, pid, start);
    if (!end || streamEnd > *end) end = streamEnd;
  }
  if (!end) return std::nullopt;
  return *end - start.earliestPts;
}

// The ticks from the first to the last clock reference of one PID, for streams without
// presentation times.
template <typename Walk>
std::optional<std::int64_t> PcrSpan(Walk walk, const Start& start) {
  std::optional<std::int64_t> span;
  walk([&](const Packet& p) {
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

// The facts of a stream whose head and tail walk yields its packets: the first sound by its id,
// the picture (looked for on past the head by lookOn, when the head shows pictures but not their
// size), and the length from the times.
template <typename Walk, typename TailWalk, typename LookOn>
std::optional<MediaFacts> FactsOf(Walk head, TailWalk tail, LookOn lookOn, ByteSource& source) {
  Start start = ReadStart(head);
  MediaFacts facts;
  if (!start.sounds.empty()) {
    // The first sound stream as a player lists them, by PID.
    const SoundStream& first = *std::min_element(start.sounds.begin(), start.sounds.end(),
                                                 [](const auto& a, const auto& b) { return a.pid < b.pid; });
    facts.channels = first.frame.channels;
    facts.sampleRate = first.frame.sampleRate;
  }
  if (start.firstPts || start.firstPcr) {
    const auto walkTail = tail();
    const auto ticks = start.firstPts ? PtsSpan(walkTail, start) : PcrSpan(walkTail, start);
    if (ticks && *ticks > 0) facts.durationMs = DurationMs(static_cast<std::uint64_t>(*ticks), kClockHz);
    if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  }
  // After the tail: a look the budget cuts short costs the picture's size, never the length.
  if (!start.picture.picture && start.picture.videoPid != kNoPid) lookOn(start.picture);
  if (const auto& picture = start.picture.picture) {
    facts.width = picture->width;
    facts.height = picture->height;
  }
  if (facts.Empty()) return std::nullopt;
  return facts;
}

// The program a player opens: the first the PAT lists whose streams the file holds. Another
// program of a multiplex runs on a clock of its own, and its pictures and sound are not the
// first's. Nothing without the tables (a stream cut from the middle of one, a damaged head):
// every PID counts then.
std::optional<Program> ProgramOpened(std::string_view head, const Packing& packing) {
  std::vector<Program> programs;
  std::vector<unsigned> timed;  // PIDs with presentation times in the head
  ForEachPacket(head, packing.syncOffset, packing.packetBytes, [&](const Packet& p) {
    if (p.pid == 0 && programs.empty()) programs = ReadPat(p.section);
    for (Program& program : programs)
      if (p.pid == program.pmtPid && program.pids.empty()) ReadPmt(p.section, program);
    if (p.pts && std::find(timed.begin(), timed.end(), p.pid) == timed.end()) {
      timed.push_back(p.pid);
    }
  });
  for (const Program& program : programs) {
    if (std::any_of(timed.begin(), timed.end(), [&](unsigned pid) { return program.Holds(pid); })) {
      return program;
    }
  }
  return std::nullopt;
}

// The program as the last PMT in the tail names it: a PMT may move it to other PIDs on the way.
Program ProgramAtEnd(std::string_view tail, std::size_t packetBytes, const Program& opened) {
  Program atEnd = opened;
  ForEachPacket(tail, 0, packetBytes, [&](const Packet& p) {
    if (p.pid != opened.pmtPid) return;
    Program now{opened.number, opened.pmtPid, {}};
    ReadPmt(p.section, now);
    if (!now.pids.empty()) atEnd = std::move(now);
  });
  return atEnd;
}

// A visit that sees only the packets of program (all of them without one).
template <typename Visit>
auto OfProgram(const std::optional<Program>& program, Visit visit) {
  return [&program, visit](const Packet& p) {
    if (!program || program->Holds(p.pid)) visit(p);
  };
}

}  // namespace

std::optional<MediaFacts> ReadMpegTsFacts(ByteSource& source) {
  const std::string head = source.ReadString(0, kHeadBytes);
  const auto packing = FindPacking(head);
  if (!packing) return std::nullopt;
  const std::optional<Program> opened = ProgramOpened(head, *packing);
  std::string tail;
  std::optional<Program> atEnd;
  return FactsOf(
      [&](auto visit) {
        ForEachPacket(head, packing->syncOffset, packing->packetBytes, OfProgram(opened, visit));
      },
      [&] {
        tail = ReadTail(source, head, *packing);
        if (opened) atEnd = ProgramAtEnd(tail, packing->packetBytes, *opened);
        return [&](auto visit) {
          ForEachPacket(tail, 0, packing->packetBytes, OfProgram(atEnd, visit));
        };
      },
      [&](PictureSearch& search) {
        // On from the head's last whole packet, in steps of whole packets.
        const std::size_t packetBytes = packing->packetBytes;
        const std::size_t step = kPictureLookStepBytes / packetBytes * packetBytes;
        std::uint64_t at = packing->syncOffset + (head.size() - packing->syncOffset) / packetBytes * packetBytes;
        for (std::size_t looked = 0; !search.picture && looked + step <= kMaxPictureLookBytes; looked += step) {
          const std::string bytes = source.ReadString(at, step);
          if (bytes.size() < kTsPacketBytes) return;
          ForEachPacket(bytes, 0, packetBytes, OfProgram(opened, [&](const Packet& p) { search.Visit(p); }));
          at += bytes.size();
        }
      },
      source);
}

std::optional<MediaFacts> ReadMpegPsFacts(ByteSource& source) {
  const std::string head = source.ReadString(0, kHeadBytes);
  if (head.substr(0, 4) != std::string_view("\0\0\1\xba", 4)) return std::nullopt;
  std::string tail;
  return FactsOf([&](auto visit) { ForEachPsPacket(head, visit); },
                 [&] {
                   const std::uint64_t size = source.Size();
                   const std::uint64_t at = size - std::min<std::uint64_t>(size, kTailBytes);
                   tail = size <= head.size() ? head : source.ReadString(at, kTailBytes);
                   return [&](auto visit) { ForEachPsPacket(tail, visit); };
                 },
                 [](PictureSearch&) {}, source);
}

}  // namespace tovi::media
