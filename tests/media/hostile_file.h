// Helpers for the readers' hostile-file tests: byte builders for headers in either byte order,
// a source of any size with a few written pieces (a 5 GiB file costs nothing), and the check
// every run must pass: the source's budget kept, the facts absent or believable.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "media/facts.h"
#include "media/reading.h"

namespace tovi::media::testing {

inline std::string BigEndianBytes(std::uint64_t value, int width) {
  std::string out;
  for (int i = width - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

inline std::string LittleEndianBytes(std::uint64_t value, int width) {
  std::string out;
  for (int i = 0; i < width; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

// A file of size bytes, zero but for the pieces written at their offsets.
class SparseSource : public ByteSource {
 public:
  explicit SparseSource(std::uint64_t size) : size_(size) {}
  void Write(std::uint64_t offset, std::string bytes) { pieces_[offset] = std::move(bytes); }
  std::uint64_t Size() const override { return size_; }

 protected:
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t length) override {
    auto* bytes = static_cast<char*>(out);
    std::fill(bytes, bytes + length, '\0');
    for (const auto& [at, piece] : pieces_) {
      const std::uint64_t from = std::max(at, offset);
      const std::uint64_t to = std::min(at + piece.size(), offset + length);
      for (std::uint64_t i = from; i < to; ++i) bytes[i - offset] = piece[i - at];
    }
    return length;
  }

 private:
  std::uint64_t size_;
  std::map<std::uint64_t, std::string> pieces_;
};

using Reader = std::optional<MediaFacts> (*)(ByteSource&);

// Runs read on source and checks what any input must give: reads within the budget, and facts
// either absent or believable (not empty, no side, count or length past the readers' limits).
inline std::optional<MediaFacts> ReadChecked(Reader read, ByteSource& source) {
  const std::optional<MediaFacts> facts = read(source);
  EXPECT_LE(source.BytesRead(), ByteSource::kMaxReadBytes);
  EXPECT_LE(source.Reads(), ByteSource::kMaxReads);
  if (facts) {
    EXPECT_FALSE(facts->Empty());
    EXPECT_LE(facts->durationMs.value_or(1), kMaxDurationMs);
    EXPECT_NE(facts->durationMs, std::optional<std::uint64_t>(0));
    EXPECT_LE(facts->width.value_or(1), kMaxPictureSide);
    EXPECT_LE(facts->height.value_or(1), kMaxPictureSide);
    EXPECT_LE(facts->channels.value_or(1), kMaxChannels);
    EXPECT_LE(facts->sampleRate.value_or(1), kMaxSampleRate);
  }
  return facts;
}

inline std::optional<MediaFacts> ReadChecked(Reader read, std::string_view bytes) {
  MemorySource source(bytes);
  return ReadChecked(read, source);
}

// Every prefix of a file (as a download cut short leaves it) read within the bounds.
inline void ReadEveryPrefix(Reader read, const std::string& bytes) {
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    SCOPED_TRACE("cut at " + std::to_string(length));
    ReadChecked(read, std::string_view(bytes).substr(0, length));
    if (::testing::Test::HasFailure()) return;
  }
}

// One hostile case: the file, and the duration and width it must give (nothing: none).
struct HostileCase {
  const char* what;
  std::string bytes;
  std::optional<std::uint64_t> durationMs;
  std::optional<std::uint32_t> width;
};

inline void ExpectCase(Reader read, const HostileCase& c) {
  SCOPED_TRACE(c.what);
  const std::optional<MediaFacts> facts = ReadChecked(read, c.bytes);
  EXPECT_EQ(facts ? facts->durationMs : std::nullopt, c.durationMs);
  EXPECT_EQ(facts ? facts->width : std::nullopt, c.width);
}

}  // namespace tovi::media::testing
