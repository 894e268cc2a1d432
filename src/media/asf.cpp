#include "media/asf.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAsfFacts(ByteSource&) { return std::nullopt; }

}  // namespace tovi::media
