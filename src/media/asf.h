#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAsfFacts(ByteSource& source);

}  // namespace tovi::media
