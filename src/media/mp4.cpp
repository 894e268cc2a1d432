#include "media/mp4.h"

#include <algorithm>
#include <bit>
#include <string_view>
#include <utility>
#include <vector>

#include "media/audio_frames.h"
#include "media/reading.h"

namespace tovi::media {
namespace {

// A file's top level holds a handful of boxes (ftyp, moov, mdat, free...); a fragmented one
// may hold thousands, but then its moov comes first.
constexpr int kMaxTopBoxes = 64;
// Boxes walked inside moov: a few dozen per track, for films with many tracks.
constexpr int kMaxBoxes = 2048;
// moov/trak/mdia/minf/stbl/stsd is six deep.
constexpr int kMaxDepth = 8;
// The most of a box's payload a reader needs (mvhd, tkhd, stsd's first entry).
constexpr std::size_t kMaxPayloadBytes = 256;

constexpr std::uint32_t Type(const char (&name)[5]) {
  return (std::uint32_t(std::uint8_t(name[0])) << 24) | (std::uint32_t(std::uint8_t(name[1])) << 16) |
         (std::uint32_t(std::uint8_t(name[2])) << 8) | std::uint32_t(std::uint8_t(name[3]));
}

struct Box {
  std::uint32_t type = 0;
  std::uint64_t payload = 0;  // where its contents start
  std::uint64_t end = 0;      // one past its last byte
};

// The box at offset within a parent ending at parentEnd; nothing when its size is impossible.
std::optional<Box> BoxAt(ReadWindow& window, std::uint64_t offset, std::uint64_t parentEnd) {
  if (parentEnd < offset || parentEnd - offset < 8) return std::nullopt;
  const std::string_view head = window.Bytes(offset, 16);
  if (head.size() < 8) return std::nullopt;
  Box box;
  box.type = static_cast<std::uint32_t>(BigEndian(head, 4, 4));
  std::uint64_t size = BigEndian(head, 0, 4);
  box.payload = offset + 8;
  if (size == 1) {  // a 64-bit size follows the type
    if (head.size() < 16) return std::nullopt;
    size = BigEndian(head, 8, 8);
    box.payload = offset + 16;
  } else if (size == 0) {  // to the end of the file (or of its parent)
    size = parentEnd - offset;
  }
  if (size < box.payload - offset || size > parentEnd - offset) return std::nullopt;
  box.end = offset + size;
  return box;
}

struct Track {
  std::uint32_t id = 0;                // tkhd's track_ID
  std::uint32_t handler = 0;           // 'vide', 'soun', ...
  std::uint32_t headerWidth = 0, headerHeight = 0;  // tkhd, 16.16 display size
  std::uint64_t mediaTimescale = 0, mediaDuration = 0;
  std::string stsdEntry;               // the first sample description
  std::optional<std::uint64_t> firstChunk;  // stco, co64: where its first samples lie
};

struct Movie {
  std::uint64_t timescale = 0, duration = 0;
  std::uint64_t fragmentDuration = 0;  // mehd, in the movie's timescale
  bool extended = false;               // mvex: fragments may follow the moov
  // Per track ID: its media timescale (tkhd, mdhd) and its fragments' default sample length (trex).
  std::vector<std::pair<std::uint32_t, std::uint64_t>> timescales, defaultLengths;
  std::uint64_t longestTrackMs = 0;    // the tracks' own lengths, when the movie has none
  std::optional<Track> track;          // the track being walked
  bool pictureTrack = false;
  MediaFacts out;
};

void ReadMvhd(std::string_view p, Movie& movie) {
  const bool v1 = !p.empty() && p[0] == 1;
  movie.timescale = BigEndian(p, v1 ? 20 : 12, 4);
  movie.duration = BigEndian(p, v1 ? 24 : 16, v1 ? 8 : 4);
  // All ones: the length is not known.
  if (movie.duration == (v1 ? ~0ull : 0xFFFFFFFFull)) movie.duration = 0;
}

void ReadTkhd(std::string_view p, Track& track) {
  const bool v1 = !p.empty() && p[0] == 1;
  const std::size_t at = v1 ? 88 : 76;
  track.id = static_cast<std::uint32_t>(BigEndian(p, v1 ? 20 : 12, 4));
  track.headerWidth = static_cast<std::uint32_t>(BigEndian(p, at, 4) >> 16);
  track.headerHeight = static_cast<std::uint32_t>(BigEndian(p, at + 4, 4) >> 16);
}

void ReadMdhd(std::string_view p, Track& track) {
  const bool v1 = !p.empty() && p[0] == 1;
  track.mediaTimescale = BigEndian(p, v1 ? 20 : 12, 4);
  track.mediaDuration = BigEndian(p, v1 ? 24 : 16, v1 ? 8 : 4);
  if (track.mediaDuration == (v1 ? ~0ull : 0xFFFFFFFFull)) track.mediaDuration = 0;
}

// An MPEG-4 audio entry's channels as its decoder configuration (esds) says them: ISO files
// write 2 in the entry's own field whatever the stream holds. Nothing when it does not say;
// objectType is its coding's (0x40 AAC, 0x69 and 0x6B MPEG-1/2 audio), 0 when not found.
std::optional<std::uint64_t> EsdsChannels(std::string_view entry, std::uint64_t& objectType) {
  const std::size_t esds = entry.find("esds");
  if (esds == std::string_view::npos) return std::nullopt;
  std::size_t at = esds + 8;  // past the type, version and flags
  // A descriptor's tag, then its length in up to four bytes of 7 bits.
  const auto descriptor = [&](unsigned tag) {
    if (at >= entry.size() || static_cast<unsigned char>(entry[at]) != tag) return false;
    ++at;
    for (int i = 0; i < 4 && at < entry.size(); ++i)
      if (!(static_cast<unsigned char>(entry[at++]) & 0x80)) return true;
    return false;
  };
  if (!descriptor(0x03)) return std::nullopt;
  const std::uint64_t flags = BigEndian(entry, at + 2, 1);
  at += 3;
  if (flags & 0x80) at += 2;
  if (flags & 0x40) at += 1 + BigEndian(entry, at, 1);
  if (flags & 0x20) at += 2;
  if (!descriptor(0x04)) return std::nullopt;
  objectType = BigEndian(entry, at, 1);
  at += 13;
  if (!descriptor(0x05) || at >= entry.size()) return std::nullopt;
  return AacConfigChannels(entry.substr(at));
}

// An AC-3 or E-AC-3 entry's channels as its dac3 or dec3 box says them (the entry's own field
// is 2 whatever the stream holds): the coding mode's full-band channels and the LFE bit, of
// E-AC-3's first independent substream. Nothing when the box is not there.
std::optional<std::uint64_t> Ac3BoxChannels(std::string_view entry, bool enhanced) {
  constexpr std::uint64_t kModeChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod
  const std::size_t box = entry.find(enhanced ? "dec3" : "dac3");
  if (box == std::string_view::npos) return std::nullopt;
  // dac3: fscod 2, bsid 5, bsmod 3, acmod 3, lfeon 1; dec3: data_rate 13, num_ind_sub 3, then
  // fscod 2, bsid 5, reserved 1, asvc 1, bsmod 3, acmod 3, lfeon 1.
  const std::size_t at = box + 4 + (enhanced ? 2 : 0);
  if (at + 3 > entry.size()) return std::nullopt;
  const std::uint64_t bits = BigEndian(entry, at, 3);
  const unsigned shift = enhanced ? 8 : 10;  // lfeon's bit; acmod's three above it
  return kModeChannels[bits >> (shift + 1) & 7] + (bits >> shift & 1);
}

// A visual sample entry holds the coded picture size; an audio one the channels and rate
// (QuickTime's version 2 entry moves them past the old fields, as a double and a count).
void TakeTrack(const Track& track, MediaFacts& out, ReadWindow& window) {
  const std::string_view entry = track.stsdEntry;
  if (track.handler == Type("vide") && !out.width) {
    out.width = Positive(BigEndian(entry, 32, 2), kMaxPictureSide);
    out.height = Positive(BigEndian(entry, 34, 2), kMaxPictureSide);
    if (!out.width || !out.height) {
      out.width = Positive(track.headerWidth, kMaxPictureSide);
      out.height = Positive(track.headerHeight, kMaxPictureSide);
    }
  } else if (track.handler == Type("soun") && !out.channels) {
    const std::uint64_t version = BigEndian(entry, 16, 2);
    std::uint64_t channels = BigEndian(entry, 24, 2);
    std::uint64_t rate = BigEndian(entry, 32, 4) >> 16;
    if (version == 2) {
      const double rate2 = BigEndianFloat(entry, 40, 8);
      rate = rate2 >= 1 && rate2 <= double(kMaxSampleRate) ? static_cast<std::uint64_t>(rate2) : 0;
      channels = BigEndian(entry, 48, 4);
    }
    // The entry's format; none when the track has no entry (an empty or missing stsd).
    const std::string_view format = entry.size() >= 8 ? entry.substr(4, 4) : std::string_view();
    if (format == "mp4a" && version == 0) {
      std::uint64_t objectType = 0;
      if (const auto configured = EsdsChannels(entry, objectType)) channels = *configured;
      // MP3 and MP2 have no decoder configuration: the first frame's header says.
      if ((objectType == 0x69 || objectType == 0x6b) && track.firstChunk) {
        const auto frame = ParseMpegAudioFrame(window.Bytes(*track.firstChunk, 4));
        if (frame) channels = frame->channels;
      }
    }
    if (format == "ac-3" || format == "ec-3") {
      if (const auto configured = Ac3BoxChannels(entry, format == "ec-3")) channels = *configured;
    }
    // AMR, narrow or wide band, is mono; 3GPP files write 2 in the entry all the same.
    if (format == "samr" || format == "sawb") channels = 1;
    // A rate past 16 bits does not fit the old field: the media's timescale is the rate then.
    if (rate == 0) rate = track.mediaTimescale;
    out.channels = Positive(channels, kMaxChannels);
    out.sampleRate = Positive(rate, kMaxSampleRate);
  }
}

class Walker {
 public:
  Walker(ReadWindow& window, Movie& movie) : window_(window), movie_(movie) {}
  void Walk(std::uint64_t begin, std::uint64_t end, int depth);

 private:
  void Visit(const Box& box, int depth);
  std::string_view Payload(const Box& box) {
    const std::uint64_t length = box.end - box.payload;
    return window_.Bytes(box.payload, length < kMaxPayloadBytes ? length : kMaxPayloadBytes);
  }

  ReadWindow& window_;
  Movie& movie_;
  int boxes_ = 0;
};

void Walker::Walk(std::uint64_t begin, std::uint64_t end, int depth) {
  if (depth > kMaxDepth) return;
  for (std::uint64_t at = begin; at < end && boxes_ < kMaxBoxes; ++boxes_) {
    const std::optional<Box> box = BoxAt(window_, at, end);
    if (!box) return;
    Visit(*box, depth);
    at = box->end;
  }
}

void Walker::Visit(const Box& box, int depth) {
  switch (box.type) {
    case Type("mvhd"): ReadMvhd(Payload(box), movie_); break;
    case Type("mehd"): {
      const std::string_view p = Payload(box);
      movie_.fragmentDuration = BigEndian(p, 4, !p.empty() && p[0] == 1 ? 8 : 4);
      break;
    }
    case Type("trak"):
      if (movie_.track) break;  // a track inside a track describes nothing
      movie_.track.emplace();
      Walk(box.payload, box.end, depth + 1);
      TakeTrack(*movie_.track, movie_.out, window_);
      movie_.timescales.emplace_back(movie_.track->id, movie_.track->mediaTimescale);
      if (movie_.track->handler == Type("vide")) movie_.pictureTrack = true;
      if (auto ms = DurationMs(movie_.track->mediaDuration, movie_.track->mediaTimescale)) {
        if (*ms > movie_.longestTrackMs) movie_.longestTrackMs = *ms;
      }
      movie_.track.reset();
      break;
    case Type("mvex"):
      movie_.extended = true;
      Walk(box.payload, box.end, depth + 1);
      break;
    case Type("trex"): {
      const std::string_view p = Payload(box);
      movie_.defaultLengths.emplace_back(static_cast<std::uint32_t>(BigEndian(p, 4, 4)),
                                         BigEndian(p, 12, 4));
      break;
    }
    case Type("moov"): case Type("mdia"): case Type("minf"): case Type("stbl"):
      Walk(box.payload, box.end, depth + 1);
      break;
    default:
      if (!movie_.track) break;
      if (box.type == Type("tkhd")) ReadTkhd(Payload(box), *movie_.track);
      if (box.type == Type("mdhd")) ReadMdhd(Payload(box), *movie_.track);
      // QuickTime's minf holds a second hdlr, for the data's handler: the media's comes first.
      if (box.type == Type("hdlr") && !movie_.track->handler) {
        movie_.track->handler = static_cast<std::uint32_t>(BigEndian(Payload(box), 8, 4));
      }
      if ((box.type == Type("stco") || box.type == Type("co64")) && !movie_.track->firstChunk) {
        const std::string_view p = Payload(box);  // version, flags, count, then the offsets
        const std::size_t bytes = box.type == Type("co64") ? 8 : 4;
        if (BigEndian(p, 4, 4) > 0 && p.size() >= 8 + bytes)
          movie_.track->firstChunk = BigEndian(p, 8, bytes);
      }
      if (box.type == Type("stsd")) {
        // Its header (version, count), then the first entry.
        const std::string_view p = Payload(box);
        if (p.size() > 8) movie_.track->stsdEntry = std::string(p.substr(8));
      }
      break;
  }
}

// Where moov lies among the top-level boxes; nothing when the file is not an ISO media file
// or has none.
std::optional<Box> FindMoov(ReadWindow& window) {
  std::uint64_t at = 0;
  for (int i = 0; i < kMaxTopBoxes && at < window.Size(); ++i) {
    const std::optional<Box> box = BoxAt(window, at, window.Size());
    if (!box) return std::nullopt;
    if (box->type == Type("moov")) return box;
    // A file opens with one of these, or it is something else.
    if (i == 0 && box->type != Type("ftyp") && box->type != Type("free") && box->type != Type("mdat") &&
        box->type != Type("wide") && box->type != Type("skip") && box->type != Type("pnot")) {
      return std::nullopt;
    }
    at = box->end;
  }
  return std::nullopt;
}

// Whether a movie fragment (moof) follows moov within the next few top-level boxes.
bool FragmentFollows(ReadWindow& window, const Box& moov) {
  constexpr int kBoxesLooked = 4;
  std::uint64_t at = moov.end;
  for (int i = 0; i < kBoxesLooked && at < window.Size(); ++i) {
    const std::optional<Box> box = BoxAt(window, at, window.Size());
    if (!box) return false;
    if (box->type == Type("moof")) return true;
    at = box->end;
  }
  return false;
}

std::uint64_t ValueOf(const std::vector<std::pair<std::uint32_t, std::uint64_t>>& byTrack,
                      std::uint64_t id) {
  for (const auto& [track, value] : byTrack)
    if (track == id) return value;
  return 0;
}

// The moof of the last random-access point that the index closing the file names: mfra, whose
// size the file's last box (mfro) gives, a tfra per track with the points in time order.
std::optional<Box> LastIndexedFragment(ReadWindow& window) {
  const std::uint64_t size = window.Size();
  const std::string_view mfro = window.Bytes(size < 16 ? 0 : size - 16, 16);
  if (mfro.size() < 16 || BigEndian(mfro, 0, 4) != 16 || BigEndian(mfro, 4, 4) != Type("mfro")) {
    return std::nullopt;
  }
  const std::uint64_t mfraSize = BigEndian(mfro, 12, 4);
  if (mfraSize > size) return std::nullopt;
  const std::optional<Box> mfra = BoxAt(window, size - mfraSize, size);
  if (!mfra || mfra->type != Type("mfra")) return std::nullopt;
  std::uint64_t last = 0;
  for (std::uint64_t at = mfra->payload; at < mfra->end;) {
    const std::optional<Box> tfra = BoxAt(window, at, mfra->end);
    if (!tfra) break;
    const std::string_view p = window.Bytes(tfra->payload, 16);
    if (tfra->type == Type("tfra") && p.size() == 16) {
      const bool v1 = p[0] == 1;
      const std::uint64_t sizes = BigEndian(p, 8, 4), count = BigEndian(p, 12, 4);
      const std::uint64_t entryBytes =
          (v1 ? 16 : 8) + (sizes >> 4 & 3) + (sizes >> 2 & 3) + (sizes & 3) + 3;
      if (count > 0 && count <= (tfra->end - tfra->payload - 16) / entryBytes) {
        const std::string_view entry =
            window.Bytes(tfra->payload + 16 + (count - 1) * entryBytes, 16);
        last = std::max(last, BigEndian(entry, v1 ? 8 : 4, v1 ? 8 : 4));
      }
    }
    at = tfra->end;
  }
  const std::optional<Box> moof = BoxAt(window, last, size);
  if (!moof || moof->type != Type("moof")) return std::nullopt;
  return moof;
}

// The most of a run's sample table read, in one read: a fragment of a few seconds holds a few
// hundred samples, but one per key frame of a film with rare key frames may hold minutes (ten
// thousand pictures' lengths and sizes are 80 KB).
constexpr std::uint64_t kMaxRunBytes = 512 * 1024;

// The ticks a run's samples (trun) last: as long as they say, or their default. Nothing when its
// table is past kMaxRunBytes or not read whole.
std::optional<std::uint64_t> RunTicks(ReadWindow& window, const Box& trun, std::string_view head,
                                      std::uint64_t defaultLength) {
  const std::uint64_t flags = BigEndian(head, 1, 3), samples = BigEndian(head, 4, 4);
  if (!(flags & 0x100)) return samples * defaultLength;
  const std::uint64_t first = trun.payload + 8 + (flags & 1 ? 4 : 0) + (flags & 4 ? 4 : 0);
  const std::uint64_t entryBytes = 4 * std::uint64_t(std::popcount(flags & 0xf00));
  const std::uint64_t tableBytes = samples * entryBytes;
  if (tableBytes > std::min(kMaxRunBytes, trun.end - std::min(trun.end, first))) {
    return std::nullopt;
  }
  const std::string_view table = window.Bytes(first, tableBytes);
  if (table.size() != tableBytes) return std::nullopt;
  std::uint64_t ticks = 0;
  for (std::uint64_t i = 0; i < samples; ++i) ticks += BigEndian(table, i * entryBytes, 4);
  return ticks;
}

// Where one track's part of a fragment (traf) ends: from its decode time (tfdt) on, for its
// runs' samples. Nothing without a decode time or with a run not counted.
std::optional<std::uint64_t> TrackFragmentEndMs(ReadWindow& window, const Movie& movie,
                                                const Box& traf) {
  std::uint64_t track = 0, defaultLength = 0, ticks = 0;
  bool decodeTime = false;
  for (std::uint64_t in = traf.payload; in < traf.end;) {
    const std::optional<Box> box = BoxAt(window, in, traf.end);
    if (!box) break;
    in = box->end;
    const std::string_view p = window.Bytes(box->payload, 24);
    const std::uint64_t flags = BigEndian(p, 1, 3);
    if (box->type == Type("tfhd")) {
      track = BigEndian(p, 4, 4);
      const std::size_t lengthAt = 8 + (flags & 1 ? 8 : 0) + (flags & 2 ? 4 : 0);
      defaultLength = flags & 8 ? BigEndian(p, lengthAt, 4) : ValueOf(movie.defaultLengths, track);
    } else if (box->type == Type("tfdt")) {
      ticks += BigEndian(p, 4, !p.empty() && p[0] == 1 ? 8 : 4);
      decodeTime = true;
    } else if (box->type == Type("trun")) {
      const std::optional<std::uint64_t> run = RunTicks(window, *box, p, defaultLength);
      if (!run) return std::nullopt;
      ticks += *run;
    }
  }
  if (!decodeTime) return std::nullopt;
  return DurationMs(ticks, ValueOf(movie.timescales, track));
}

// How far back from the end a fragmented movie without an index is searched for its last moof,
// and in what steps: a recorder's or a DASH download's fragments of a few seconds at a few Mb/s
// fit, and the look stays inside the source's budget with a moov and a run's table besides. A
// file whose last fragment is larger goes without a length, as before.
constexpr std::uint64_t kMaxTailLookBytes = 512 * 1024;
constexpr std::size_t kTailStepBytes = 64 * 1024;

// The last moof that ends inside the file, found by its opening bytes (its header, then mfhd's)
// in steps back from the end; a moof that the file's end cuts (a recording stopped amid a
// fragment) gives way to the one before. Coded samples that match those twelve bytes and make
// a box that fits the file are not expected.
std::optional<Box> LastFragmentFromEnd(ReadWindow& window) {
  constexpr std::string_view kOpening("moof\0\0\0\x10mfhd", 12);
  const std::uint64_t size = window.Size();
  const std::uint64_t floor = size - std::min(size, kMaxTailLookBytes);
  for (std::uint64_t to = size; to > floor;) {
    const std::uint64_t from = std::max(floor, to - std::min<std::uint64_t>(to, kTailStepBytes));
    // The step reaches a little past its end, so that an opening across two steps is seen.
    const std::string chunk(window.Bytes(from, static_cast<std::size_t>(to - from) + kOpening.size()));
    if (chunk.empty()) return std::nullopt;  // the budget is spent
    for (std::size_t at = chunk.rfind(kOpening); at != std::string::npos && at >= 4;
         at = at == 0 ? std::string::npos : chunk.rfind(kOpening, at - 1)) {
      const std::optional<Box> moof = BoxAt(window, from + at - 4, size);
      if (moof && moof->type == Type("moof")) return moof;
    }
    to = from;
  }
  return std::nullopt;
}

// Where a fragmented movie without mehd ends: where the last of its tracks ends in its last
// fragment, as the index closing the file names it or else as found from the end. A track whose
// end is not known leaves the others'.
std::optional<std::uint64_t> FragmentedEndMs(ReadWindow& window, const Movie& movie) {
  std::optional<Box> moof = LastIndexedFragment(window);
  if (!moof) moof = LastFragmentFromEnd(window);
  if (!moof) return std::nullopt;
  std::optional<std::uint64_t> endMs;
  for (std::uint64_t at = moof->payload; at < moof->end;) {
    const std::optional<Box> traf = BoxAt(window, at, moof->end);
    if (!traf) break;
    at = traf->end;
    if (traf->type != Type("traf")) continue;
    const std::optional<std::uint64_t> ms = TrackFragmentEndMs(window, movie, *traf);
    if (ms && (!endMs || *ms > *endMs)) endMs = ms;
  }
  return endMs;
}

}  // namespace

std::optional<MediaFacts> ReadMp4Facts(ByteSource& source) {
  ReadWindow window(source);
  const std::optional<Box> moov = FindMoov(window);
  if (!moov) return std::nullopt;
  Movie movie;
  Walker(window, movie).Walk(moov->payload, moov->end, 1);
  MediaFacts& facts = movie.out;
  // A fragmented movie's moov times only the samples it holds itself, the film's first part at
  // most: its whole length is mehd's, or else where its last fragment ends.
  if (movie.fragmentDuration) {
    facts.durationMs = DurationMs(movie.fragmentDuration, movie.timescale);
  } else if (movie.extended && FragmentFollows(window, *moov)) {
    facts.durationMs = FragmentedEndMs(window, movie);
  } else {
    facts.durationMs = DurationMs(movie.duration, movie.timescale);
    if (!facts.durationMs && movie.longestTrackMs) facts.durationMs = movie.longestTrackMs;
  }
  facts.soundOnly = facts.channels && !movie.pictureTrack;
  if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media
