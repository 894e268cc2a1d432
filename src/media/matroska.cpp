#include "media/matroska.h"

#include <functional>
#include <string_view>

#include "media/reading.h"

namespace tovi::media {
namespace {

// Elements walked in all: a SeekHead's entries, a few dozen tracks' fields, the Segment's
// top level up to its first Cluster.
constexpr int kMaxElements = 4096;
// TimecodeScale's value when Info leaves it out: milliseconds.
constexpr std::uint64_t kDefaultTimecodeScaleNs = 1'000'000;

enum : std::uint32_t {
  kEbml = 0x1A45DFA3, kSegment = 0x18538067, kSeekHead = 0x114D9B74, kSeek = 0x4DBB,
  kSeekId = 0x53AB, kSeekPosition = 0x53AC, kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1,
  kDuration = 0x4489, kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackType = 0x83,
  kVideo = 0xE0, kPixelWidth = 0xB0, kPixelHeight = 0xBA, kAudio = 0xE1,
  kSamplingFrequency = 0xB5, kChannels = 0x9F, kFlagDefault = 0x88, kCluster = 0x1F43B675,
};
constexpr std::uint64_t kVideoTrack = 1, kAudioTrack = 2;

struct Element {
  std::uint32_t id = 0;
  std::uint64_t data = 0;  // where its contents start
  std::uint64_t end = 0;   // one past its contents (the parent's end for an unknown size)
  bool unknownSize = false;
};

// An EBML variable-length number's length from its first byte (1..8), 0 when invalid.
int VintLength(unsigned char first) {
  for (int length = 1; length <= 8; ++length) {
    if (first & (0x80 >> (length - 1))) return length;
  }
  return 0;
}

class Reader {
 public:
  explicit Reader(ReadWindow& window) : window_(window) {}

  // The element at offset inside a parent ending at parentEnd; a size past the parent is cut
  // to it (a file cut short still shows its headers).
  std::optional<Element> At(std::uint64_t offset, std::uint64_t parentEnd) {
    if (offset >= parentEnd || ++elements_ > kMaxElements) return std::nullopt;
    const std::string_view head = window_.Bytes(offset, 12);
    if (head.empty()) return std::nullopt;
    const int idLength = VintLength(static_cast<unsigned char>(head[0]));
    if (idLength == 0 || idLength > 4 || head.size() < std::size_t(idLength) + 1) return std::nullopt;
    const int sizeLength = VintLength(static_cast<unsigned char>(head[idLength]));
    if (sizeLength == 0 || head.size() < std::size_t(idLength + sizeLength)) return std::nullopt;
    Element element;
    element.id = static_cast<std::uint32_t>(BigEndian(head, 0, idLength));
    const std::uint64_t marker = 1ull << (7 * sizeLength);
    const std::uint64_t size = BigEndian(head, idLength, sizeLength) & (marker - 1);
    element.data = offset + idLength + sizeLength;
    if (element.data > parentEnd) return std::nullopt;
    element.unknownSize = size == marker - 1;
    element.end = element.unknownSize || size > parentEnd - element.data ? parentEnd : element.data + size;
    return element;
  }

  // Calls visit for each child of [begin, end) until it returns false.
  void Children(std::uint64_t begin, std::uint64_t end, const std::function<bool(const Element&)>& visit) {
    for (std::uint64_t at = begin; at < end;) {
      const std::optional<Element> child = At(at, end);
      if (!child || !visit(*child)) return;
      // An unknown size has no end of its own: nothing after it can be found at this level.
      if (child->unknownSize) return;
      at = child->end;
    }
  }

  std::uint64_t Unsigned(const Element& e) {
    const std::uint64_t size = e.end - e.data;
    if (size == 0 || size > 8) return 0;
    return BigEndian(window_.Bytes(e.data, size), 0, size);
  }

  double Float(const Element& e) { return BigEndianFloat(window_.Bytes(e.data, 8), 0, e.end - e.data); }

 private:
  ReadWindow& window_;
  int elements_ = 0;
};

struct Segment {
  std::uint64_t data = 0, end = 0;
  std::optional<std::uint64_t> infoAt, tracksAt;  // from the SeekHead, from data
  bool infoRead = false, tracksRead = false;
  std::uint64_t timecodeScaleNs = kDefaultTimecodeScaleNs;
  double duration = 0;  // in TimecodeScale units
};

void ReadSeekHead(Reader& reader, const Element& seekHead, Segment& segment) {
  reader.Children(seekHead.data, seekHead.end, [&](const Element& seek) {
    if (seek.id != kSeek) return true;
    std::uint64_t id = 0, position = 0;
    bool hasPosition = false;
    reader.Children(seek.data, seek.end, [&](const Element& field) {
      if (field.id == kSeekId) id = reader.Unsigned(field);
      if (field.id == kSeekPosition) { position = reader.Unsigned(field); hasPosition = true; }
      return true;
    });
    if (hasPosition && id == kInfo && !segment.infoAt) segment.infoAt = position;
    if (hasPosition && id == kTracks && !segment.tracksAt) segment.tracksAt = position;
    return true;
  });
}

void ReadInfo(Reader& reader, const Element& info, Segment& segment) {
  segment.infoRead = true;
  reader.Children(info.data, info.end, [&](const Element& field) {
    if (field.id == kTimecodeScale) segment.timecodeScaleNs = reader.Unsigned(field);
    if (field.id == kDuration) segment.duration = reader.Float(field);
    return true;
  });
}

// One track's fields, with Matroska's defaults for those a track leaves out.
struct Track {
  std::uint64_t type = 0, width = 0, height = 0, channels = 1;
  double rate = 8000;
  bool hasVideo = false, hasAudio = false;
  bool isDefault = true;  // FlagDefault: the track a player starts with among its type's
};

Track ReadTrackEntry(Reader& reader, const Element& entry) {
  Track track;
  reader.Children(entry.data, entry.end, [&](const Element& field) {
    if (field.id == kTrackType) track.type = reader.Unsigned(field);
    if (field.id == kFlagDefault) track.isDefault = reader.Unsigned(field) != 0;
    if (field.id == kVideo) {
      track.hasVideo = true;
      reader.Children(field.data, field.end, [&](const Element& v) {
        if (v.id == kPixelWidth) track.width = reader.Unsigned(v);
        if (v.id == kPixelHeight) track.height = reader.Unsigned(v);
        return true;
      });
    }
    if (field.id == kAudio) {
      track.hasAudio = true;
      reader.Children(field.data, field.end, [&](const Element& a) {
        if (a.id == kChannels) track.channels = reader.Unsigned(a);
        if (a.id == kSamplingFrequency) track.rate = reader.Float(a);
        return true;
      });
    }
    return true;
  });
  return track;
}

// The picture of the first video track, the sound of the first audio track marked default (of
// the first audio track when none is): what a player shows and plays on opening the file.
void ReadTracks(Reader& reader, const Element& tracks, Segment& segment, MediaFacts& facts) {
  segment.tracksRead = true;
  bool soundIsDefault = false, picture = false;
  reader.Children(tracks.data, tracks.end, [&](const Element& entry) {
    if (entry.id != kTrackEntry) return true;
    const Track track = ReadTrackEntry(reader, entry);
    picture = picture || track.type == kVideoTrack;
    if (track.type == kVideoTrack && track.hasVideo && !facts.width) {
      facts.width = Positive(track.width, kMaxPictureSide);
      facts.height = Positive(track.height, kMaxPictureSide);
    }
    if (track.type == kAudioTrack && (!facts.channels || (track.isDefault && !soundIsDefault))) {
      soundIsDefault = track.isDefault;
      facts.channels = Positive(track.hasAudio ? track.channels : 1, kMaxChannels);
      const bool rateSane = track.rate >= 1 && track.rate <= double(kMaxSampleRate);
      facts.sampleRate =
          rateSane ? Positive(static_cast<std::uint64_t>(track.rate + 0.5), kMaxSampleRate) : std::nullopt;
    }
    return true;
  });
  facts.soundOnly = facts.channels && !picture;
}

// The Segment's top level up to its first Cluster: Info, Tracks and the SeekHead that points
// to them when they come after the Clusters.
void ReadSegment(Reader& reader, Segment& segment, MediaFacts& facts) {
  reader.Children(segment.data, segment.end, [&](const Element& e) {
    if (e.id == kSeekHead) ReadSeekHead(reader, e, segment);
    if (e.id == kInfo && !segment.infoRead) ReadInfo(reader, e, segment);
    if (e.id == kTracks && !segment.tracksRead) ReadTracks(reader, e, segment, facts);
    return e.id != kCluster && !(segment.infoRead && segment.tracksRead);
  });
  if (!segment.infoRead && segment.infoAt && *segment.infoAt < segment.end - segment.data) {
    const auto info = reader.At(segment.data + *segment.infoAt, segment.end);
    if (info && info->id == kInfo) ReadInfo(reader, *info, segment);
  }
  if (!segment.tracksRead && segment.tracksAt && *segment.tracksAt < segment.end - segment.data) {
    const auto tracks = reader.At(segment.data + *segment.tracksAt, segment.end);
    if (tracks && tracks->id == kTracks) ReadTracks(reader, *tracks, segment, facts);
  }
}

}  // namespace

std::optional<MediaFacts> ReadMatroskaFacts(ByteSource& source) {
  ReadWindow window(source);
  Reader reader(window);
  const std::optional<Element> header = reader.At(0, source.Size());
  if (!header || header->id != kEbml || header->unknownSize) return std::nullopt;
  std::optional<Element> segmentElement;
  reader.Children(header->end, source.Size(), [&](const Element& e) {
    if (e.id == kSegment) segmentElement = e;
    return !segmentElement;
  });
  if (!segmentElement) return std::nullopt;
  Segment segment;
  segment.data = segmentElement->data;
  segment.end = segmentElement->end;
  MediaFacts facts;
  ReadSegment(reader, segment, facts);
  // Duration counts TimecodeScale units of nanoseconds.
  const double seconds = segment.duration * static_cast<double>(segment.timecodeScaleNs) / 1e9;
  facts.durationMs = DurationMs(seconds);
  if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media
