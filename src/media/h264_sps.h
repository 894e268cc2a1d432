// The picture size an H.264 sequence parameter set gives (macroblocks less the cropping), read
// from the NAL unit's bytes as they lie in a stream (emulation prevention bytes included).
// Nothing when the bytes end early or say what no encoder writes.
// Bounds: reads only the given bytes; every count it loops on is capped.
// Pure: safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace tovi::media {

struct PictureSize {
  std::uint32_t width = 0, height = 0;
};

// nal: the unit from its header byte (type 7) on.
std::optional<PictureSize> ReadH264SpsSize(std::string_view nal);
// The same of an H.265 SPS: its luma size less the conformance window. nal: from the unit's
// two header bytes (type 33) on.
std::optional<PictureSize> ReadHevcSpsSize(std::string_view nal);

}  // namespace tovi::media
