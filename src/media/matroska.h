#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMatroskaFacts(ByteSource& source);

}  // namespace tovi::media
