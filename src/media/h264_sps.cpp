#include "media/h264_sps.h"

#include <algorithm>
#include <array>
#include <string>

namespace tovi::media {

namespace {

// No SPS field needs more: exp-Golomb codes of more leading zeros are damage.
constexpr int kMaxGolombZeros = 31;
// The largest picture a level allows is 139,264 macroblocks; a side past this is damage.
constexpr std::uint64_t kMaxMacroblocksPerSide = 1024;
// An SPS is a few dozen bytes; with scaling lists a few hundred.
constexpr std::size_t kMaxSpsBytes = 1024;

// Bits of an SPS without its emulation prevention bytes; reads past the end set failed().
class BitReader {
 public:
  explicit BitReader(std::string_view nal) {
    int zeros = 0;
    for (char c : nal.substr(0, kMaxSpsBytes)) {
      if (zeros >= 2 && c == 3) {
        zeros = 0;
        continue;
      }
      zeros = c == 0 ? zeros + 1 : 0;
      bytes_.push_back(c);
    }
  }
  std::uint32_t Bit() {
    if (bit_ >= bytes_.size() * 8) {
      failed_ = true;
      return 0;
    }
    const std::uint32_t b = static_cast<unsigned char>(bytes_[bit_ / 8]) >> (7 - bit_ % 8) & 1;
    ++bit_;
    return b;
  }
  std::uint32_t Bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 1 | Bit();
    return v;
  }
  std::uint64_t Ue() {
    int zeros = 0;
    while (!failed_ && Bit() == 0)
      if (++zeros > kMaxGolombZeros) failed_ = true;
    if (failed_) return 0;
    return ((1ull << zeros) - 1) + Bits(zeros);
  }
  std::int64_t Se() {
    const std::uint64_t k = Ue();
    return k & 1 ? static_cast<std::int64_t>((k + 1) / 2) : -static_cast<std::int64_t>(k / 2);
  }
  bool failed() const { return failed_; }

 private:
  std::string bytes_;
  std::size_t bit_ = 0;
  bool failed_ = false;
};

// The profiles (High and after) whose SPS carries chroma format, bit depths and scaling lists.
constexpr std::array<std::uint32_t, 13> kChromaProfiles = {100, 110, 122, 244, 44,  83, 86,
                                                           118, 128, 138, 139, 134, 135};

bool HasChromaFields(std::uint32_t profile) {
  return std::find(kChromaProfiles.begin(), kChromaProfiles.end(), profile) != kChromaProfiles.end();
}

void SkipScalingLists(BitReader& r, std::uint64_t chromaFormat) {
  const int lists = chromaFormat == 3 ? 12 : 8;
  for (int i = 0; i < lists && !r.failed(); ++i) {
    if (!r.Bit()) continue;
    std::int64_t last = 8, next = 8;
    for (int j = 0; j < (i < 6 ? 16 : 64) && !r.failed(); ++j) {
      if (next != 0) next = (last + r.Se() + 256) % 256;
      last = next == 0 ? last : next;
    }
  }
}

// Reads up to the picture order count fields; the chroma format, or nothing.
std::optional<std::uint64_t> SkipToPictureOrder(BitReader& r) {
  const std::uint32_t profile = r.Bits(8);
  r.Bits(16);  // constraint flags, level
  r.Ue();      // seq_parameter_set_id
  std::uint64_t chromaFormat = 1;
  if (HasChromaFields(profile)) {
    chromaFormat = r.Ue();
    if (chromaFormat > 3) return std::nullopt;
    if (chromaFormat == 3) r.Bit();
    r.Ue();
    r.Ue();
    r.Bit();
    if (r.Bit()) SkipScalingLists(r, chromaFormat);
  }
  r.Ue();  // log2_max_frame_num_minus4
  const std::uint64_t orderType = r.Ue();
  if (orderType == 0) {
    r.Ue();
  } else if (orderType == 1) {
    r.Bit();
    r.Se();
    r.Se();
    const std::uint64_t cycle = r.Ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint64_t i = 0; i < cycle; ++i) r.Se();
  }
  return chromaFormat;
}

// A cropping window (left, right, top, bottom), when its flag says one follows.
std::array<std::uint64_t, 4> ReadCropWindow(BitReader& r) {
  std::array<std::uint64_t, 4> window{};
  if (r.Bit()) {
    for (std::uint64_t& side : window) side = r.Ue();
  }
  return window;
}

// The coded size less the window, its sides counted in units of unitX and unitY pixels; nothing
// when the window takes the whole picture.
std::optional<PictureSize> LessWindow(std::uint64_t width, std::uint64_t height,
                                      const std::array<std::uint64_t, 4>& window,
                                      std::uint64_t unitX, std::uint64_t unitY) {
  const std::uint64_t cutX = unitX * (window[0] + window[1]);
  const std::uint64_t cutY = unitY * (window[2] + window[3]);
  if (cutX >= width || cutY >= height) return std::nullopt;
  return PictureSize{static_cast<std::uint32_t>(width - cutX), static_cast<std::uint32_t>(height - cutY)};
}

}  // namespace

std::optional<PictureSize> ReadH264SpsSize(std::string_view nal) {
  if (nal.empty() || (nal[0] & 0x1f) != 7) return std::nullopt;
  BitReader r(nal.substr(1));
  const auto chromaFormat = SkipToPictureOrder(r);
  if (!chromaFormat) return std::nullopt;
  r.Ue();  // max_num_ref_frames
  r.Bit();
  const std::uint64_t widthMbs = r.Ue() + 1, heightUnits = r.Ue() + 1;
  const std::uint32_t frameMbsOnly = r.Bit();
  if (!frameMbsOnly) r.Bit();
  r.Bit();  // direct_8x8_inference
  const auto crop = ReadCropWindow(r);
  if (r.failed() || widthMbs > kMaxMacroblocksPerSide || heightUnits > kMaxMacroblocksPerSide)
    return std::nullopt;
  const std::uint64_t cropX = *chromaFormat == 1 || *chromaFormat == 2 ? 2 : 1;
  const std::uint64_t cropY = (*chromaFormat == 1 ? 2 : 1) * (2 - frameMbsOnly);
  return LessWindow(widthMbs * 16, (2 - frameMbsOnly) * heightUnits * 16, crop, cropX, cropY);
}

std::optional<PictureSize> ReadHevcSpsSize(std::string_view nal) {
  if (nal.size() < 2 || (static_cast<unsigned char>(nal[0]) >> 1 & 0x3f) != 33) return std::nullopt;
  BitReader r(nal.substr(2));
  r.Bits(4);  // sps_video_parameter_set_id
  const std::uint32_t subLayers = r.Bits(3);
  r.Bit();
  // profile_tier_level: the general profile (88 bits) and level (8), then each sub-layer's.
  for (int i = 0; i < 4; ++i) r.Bits(24);
  bool profilePresent[8] = {}, levelPresent[8] = {};
  for (std::uint32_t i = 0; i < subLayers; ++i) {
    profilePresent[i] = r.Bit();
    levelPresent[i] = r.Bit();
  }
  if (subLayers > 0) r.Bits(2 * (8 - static_cast<int>(subLayers)));
  for (std::uint32_t i = 0; i < subLayers; ++i) {
    if (profilePresent[i]) {
      for (int j = 0; j < 4; ++j) r.Bits(22);
    }
    if (levelPresent[i]) r.Bits(8);
  }
  r.Ue();  // sps_seq_parameter_set_id
  const std::uint64_t chromaFormat = r.Ue();
  if (chromaFormat > 3) return std::nullopt;
  const bool separatePlanes = chromaFormat == 3 && r.Bit();
  const std::uint64_t width = r.Ue(), height = r.Ue();
  const auto crop = ReadCropWindow(r);
  if (r.failed() || width == 0 || height == 0 || width > kMaxMacroblocksPerSide * 16 ||
      height > kMaxMacroblocksPerSide * 16)
    return std::nullopt;
  const std::uint64_t cropX = !separatePlanes && (chromaFormat == 1 || chromaFormat == 2) ? 2 : 1;
  const std::uint64_t cropY = !separatePlanes && chromaFormat == 1 ? 2 : 1;
  return LessWindow(width, height, crop, cropX, cropY);
}

}  // namespace tovi::media
