// Fuzzes the media facts readers: the input's first byte picks a reader (by an extension it
// reads), the rest is the file. No input may crash a reader, hang it, or let it read past the
// source's budget, and what it reports must be a picture or a sound that could exist.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "media/facts.h"

using namespace tovi::media;

namespace {

// One extension per reader.
constexpr std::string_view kExtensions[] = {"mp4", "mkv",  "avi", "wmv", "ts",  "mp3",
                                             "flac", "wav", "ogg", "jpg", "png", "aiff",
                                             "mpg", "flv", "aac"};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view extension = kExtensions[data[0] % std::size(kExtensions)];
  MemorySource source(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  const auto facts = ReadFacts(extension, source);
  if (source.BytesRead() > ByteSource::kMaxReadBytes) Fail("read past the byte budget");
  if (source.Reads() > ByteSource::kMaxReads) Fail("read past the read budget");
  if (facts && facts->Empty()) Fail("empty facts instead of none");
  return 0;
}
