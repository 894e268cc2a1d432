// What an ID3v2 tag at a file's start says that the readers need: how many bytes it (and any
// tag right after it, and their footers) takes before the audio, and where its front cover's
// bytes lie (an APIC picture of type 3, else the first picture; versions 2.3 and 2.4). A cover
// in an unsynchronised tag, or in a compressed, encrypted or unsynchronised frame, is left out:
// its bytes in the file are not the picture's.
// Bounds: at most kMaxId3Tags tags and kMaxId3Frames frames, within the source's read budget.
// Pure and stateless: safe from any thread with a window of its own.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/reading.h"

namespace tovi::media {

// ID3v2's 28-bit size, seven bits to a byte; 0 when bytes are too short.
std::uint32_t ReadSyncSafe(std::string_view bytes, std::size_t offset);

// The bytes the ID3v2 tags at the file's start take, 0 when it has none.
std::uint64_t Id3v2Length(ReadWindow& window);

struct Id3Picture {
  std::uint64_t offset = 0;  // in the file
  std::uint32_t length = 0;
  std::string mime;  // "image/jpeg", "image/png", or as the tag says
  bool front = false;
};

std::optional<Id3Picture> FindId3Cover(ReadWindow& window);

}  // namespace tovi::media
