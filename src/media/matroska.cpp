#include "media/matroska.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMatroskaFacts(ByteSource&) { return std::nullopt; }

}  // namespace tovi::media
