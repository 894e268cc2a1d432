#include "media/avi.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAviFacts(ByteSource&) { return std::nullopt; }

}  // namespace tovi::media
