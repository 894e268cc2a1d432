#include "media/flv.h"

#include <string>

#include "media/audio_frames.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// The header, onMetaData (with a keyframe index, tens of KiB in a long film) and the first tags.
constexpr std::size_t kHeadBytes = 256 * 1024;
constexpr std::size_t kTagHeaderBytes = 11;
constexpr std::size_t kTagSizeBytes = 4;  // the size of the tag before, after each tag
constexpr int kTagsLooked = 16;           // for the first sound tag
constexpr unsigned kAudioTag = 8, kVideoTag = 9, kScriptTag = 18;
constexpr unsigned kAacFormat = 10, kMp3Format = 2;
// AMF values walked in all, and objects inside objects.
constexpr int kMaxAmfValues = 100000;
constexpr int kMaxAmfDepth = 8;

// The AMF0 values of a script tag, the top level's named numbers and booleans given to a visitor.
class Amf {
 public:
  explicit Amf(std::string_view bytes) : bytes_(bytes) {}

  // "onMetaData" then an object or ECMA array of properties.
  template <typename Visit>
  void ReadMetaData(Visit visit) {
    if (BigEndian(bytes_, 0, 1) != 2 || String(1) != "onMetaData") return;
    at_ = 3 + 10;
    const auto type = BigEndian(bytes_, at_, 1);
    if (type != 3 && type != 8) return;
    at_ += type == 8 ? 5 : 1;
    while (at_ + 3 <= bytes_.size() && BigEndian(bytes_, at_, 3) != 9) {
      const std::string_view name = String(at_);
      at_ += 2 + name.size();
      const auto valueType = BigEndian(bytes_, at_, 1);
      if (valueType == 0 && at_ + 9 <= bytes_.size()) visit(name, BigEndianFloat(bytes_, at_ + 1, 8));
      if (valueType == 1 && at_ + 2 <= bytes_.size())
        visit(name, BigEndian(bytes_, at_ + 1, 1) ? 1.0 : 0.0);
      if (!Skip(0)) return;
    }
  }

 private:
  // A 16-bit length and its text at at; short at the end of the bytes.
  std::string_view String(std::size_t at) const {
    const auto length = static_cast<std::size_t>(BigEndian(bytes_, at, 2));
    return at + 2 > bytes_.size() ? std::string_view() : bytes_.substr(at + 2, length);
  }

  // Past one value; false for an unknown type, too deep or too many, or past the end.
  bool Skip(int depth) {
    if (++values_ > kMaxAmfValues || depth > kMaxAmfDepth || at_ >= bytes_.size()) return false;
    switch (BigEndian(bytes_, at_++, 1)) {
      case 0: at_ += 8; break;                                        // number
      case 1: at_ += 1; break;                                        // boolean
      case 2: at_ += 2 + BigEndian(bytes_, at_, 2); break;            // string
      case 5: case 6: break;                                          // null, undefined
      case 7: at_ += 2; break;                                        // reference
      case 11: at_ += 10; break;                                      // date
      case 12: at_ += 4 + BigEndian(bytes_, at_, 4); break;           // long string
      case 8: at_ += 4; [[fallthrough]];                              // ECMA array
      case 3:                                                         // object
        while (at_ + 3 <= bytes_.size() && BigEndian(bytes_, at_, 3) != 9) {
          at_ += 2 + BigEndian(bytes_, at_, 2);
          if (!Skip(depth + 1)) return false;
        }
        at_ += 3;
        break;
      case 10: {                                                      // strict array
        const std::uint64_t count = BigEndian(bytes_, at_, 4);
        at_ += 4;
        for (std::uint64_t i = 0; i < count; ++i)
          if (!Skip(depth + 1)) return false;
        break;
      }
      default: return false;
    }
    return at_ <= bytes_.size();
  }

  std::string_view bytes_;
  std::size_t at_ = 0;
  int values_ = 0;
};

// A sound tag's rate: its 2-bit field for PCM, ADPCM and Nellymoser; MP3's frame header says
// it (the field cannot say 48 kHz); the others have one rate whatever the field says.
std::optional<double> SoundTagRate(std::string_view data) {
  const auto flags = static_cast<unsigned>(BigEndian(data, 0, 1));
  switch (flags >> 4) {
    case kMp3Format:
      if (const auto frame = ParseAudioFrame(data.substr(1))) return frame->sampleRate;
      return std::nullopt;
    case 4: case 11: return 16000;                 // Nellymoser 16 kHz, Speex
    case 5: case 7: case 8: case 14: return 8000;  // Nellymoser 8 kHz, G.711, MP3 8 kHz
    case kAacFormat: return std::nullopt;          // its decoder configuration says it
    default: return 5512.5 * (1 << (flags >> 2 & 3));
  }
}

}  // namespace

std::optional<MediaFacts> ReadFlvFacts(ByteSource& source) {
  const std::string head = source.ReadString(0, kHeadBytes);
  if (head.size() < 9 || head.substr(0, 3) != "FLV") return std::nullopt;
  MediaFacts facts;
  std::optional<double> seconds, rate;
  std::optional<bool> stereo;
  std::uint64_t at = BigEndian(head, 5, 4) + kTagSizeBytes;
  for (int tag = 0; tag < kTagsLooked && at + kTagHeaderBytes < head.size(); ++tag) {
    const auto type = static_cast<unsigned>(BigEndian(head, at, 1) & 0x1f);
    const std::uint64_t size = BigEndian(head, at + 1, 3);
    const std::string_view data = std::string_view(head).substr(at + kTagHeaderBytes, size);
    if (type == kScriptTag) {
      Amf(data).ReadMetaData([&](std::string_view name, double value) {
        if (name == "duration") seconds = value;
        const bool side = value >= 1 && value <= kMaxPictureSide;
        if (name == "width" && side) facts.width = static_cast<std::uint32_t>(value);
        if (name == "height" && side) facts.height = static_cast<std::uint32_t>(value);
        if (name == "audiosamplerate") rate = value;
        if (name == "stereo") stereo = value != 0;
        if (name == "audiochannels" && value >= 1 && value <= kMaxChannels)
          facts.channels = static_cast<std::uint32_t>(value);
      });
    } else if (type == kAudioTag && !data.empty()) {
      const auto format = static_cast<unsigned>(BigEndian(data, 0, 1) >> 4);
      if (format == kAacFormat && BigEndian(data, 1, 1) == 0) {
        if (const auto channels = AacConfigChannels(data.substr(2))) facts.channels = channels;
      }
      if (!rate) rate = SoundTagRate(data);
      if (!stereo) stereo = BigEndian(data, 0, 1) & 1;
      break;
    } else if (type != kVideoTag) {
      break;
    }
    at += kTagHeaderBytes + size + kTagSizeBytes;
  }
  if (!facts.channels && stereo) facts.channels = *stereo ? 2 : 1;
  if (rate && *rate >= 1 && *rate <= kMaxSampleRate)
    facts.sampleRate = static_cast<std::uint32_t>(*rate + 0.5);
  if (seconds) facts.durationMs = DurationMs(*seconds);
  if (!facts.durationMs) {
    // The last tag's time (milliseconds, 24 bits and 8 above them), the tag found through the
    // size after it.
    const std::uint64_t fileSize = source.Size();
    const std::string end =
        fileSize >= kTagSizeBytes ? source.ReadString(fileSize - kTagSizeBytes, kTagSizeBytes) : "";
    const std::uint64_t lastSize = BigEndian(end, 0, 4);
    if (lastSize > kTagHeaderBytes && lastSize + kTagSizeBytes <= fileSize) {
      const std::string tag =
          source.ReadString(fileSize - kTagSizeBytes - lastSize, kTagHeaderBytes);
      if (BigEndian(tag, 1, 3) + kTagHeaderBytes == lastSize)
        facts.durationMs = DurationMs(BigEndian(tag, 7, 1) << 24 | BigEndian(tag, 4, 3), 1000);
    }
  }
  if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media
