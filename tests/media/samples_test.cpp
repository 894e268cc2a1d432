// Every reader against ffprobe: the files of samples.list, made by ffmpeg and measured by
// ffprobe in expected.txt (make_samples.sh, run by the media_samples fixture), read by ReadFacts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "media/facts.h"

namespace tovi::media {
namespace {

// How far a length may stray from ffprobe's: players show seconds, a seek bar needs no better.
constexpr double kDurationToleranceSeconds = 0.05;

struct Expected {
  std::string name;
  std::optional<double> seconds;
  std::optional<std::uint32_t> width, height, channels, sampleRate;
};

std::optional<double> Number(const std::string& field) {
  if (field == "-") return std::nullopt;
  return std::stod(field);
}

std::optional<std::uint32_t> Whole(const std::string& field) {
  if (field == "-") return std::nullopt;
  return static_cast<std::uint32_t>(std::stoul(field));
}

std::vector<Expected> ReadExpected(const std::string& path) {
  std::ifstream in(path);
  std::vector<Expected> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, seconds, width, height, channels, rate;
    if (!(fields >> name >> seconds >> width >> height >> channels >> rate)) continue;
    rows.push_back({name, Number(seconds), Whole(width), Whole(height), Whole(channels), Whole(rate)});
  }
  return rows;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Extension(const std::string& name) {
  return name.substr(name.rfind('.') + 1);
}

// What ffprobe does not give is not checked: a reader may know more than it.
void ExpectSame(const char* what, std::optional<std::uint32_t> got, std::optional<std::uint32_t> want) {
  if (want) {
    EXPECT_EQ(got, want) << what;
  }
}

TEST(MediaSamples, ReadersAgreeWithFfprobe) {
  const char* folder = std::getenv("TOVI_MEDIA_SAMPLES");
  ASSERT_NE(folder, nullptr) << "TOVI_MEDIA_SAMPLES names make_samples.sh's folder (ctest sets it)";
  const std::vector<Expected> rows = ReadExpected(std::string(folder) + "/expected.txt");
  ASSERT_FALSE(rows.empty()) << "no expected.txt in " << folder;
  for (const Expected& want : rows) {
    SCOPED_TRACE(want.name);
    const std::string bytes = ReadFile(std::string(folder) + "/" + want.name);
    MemorySource source(bytes);
    const std::optional<MediaFacts> facts = ReadFacts(Extension(want.name), source);
    if (!facts) {
      ADD_FAILURE() << "no facts from " << bytes.size() << " bytes";
      continue;
    }
    EXPECT_LE(source.BytesRead(), ByteSource::kMaxReadBytes);
    if (want.seconds) {
      EXPECT_NEAR(static_cast<double>(facts->durationMs.value_or(0)) / 1000, *want.seconds,
                  kDurationToleranceSeconds);
    }
    ExpectSame("width", facts->width, want.width);
    ExpectSame("height", facts->height, want.height);
    ExpectSame("channels", facts->channels, want.channels);
    ExpectSame("sample rate", facts->sampleRate, want.sampleRate);
    // MP4 and Matroska list their tracks: sound without a picture is told apart.
    const std::string extension = Extension(want.name);
    if (extension == "mp4" || extension == "m4a" || extension == "mkv" || extension == "mka" ||
        extension == "webm") {
      EXPECT_EQ(facts->soundOnly, want.channels && !want.width) << "sound only";
    }
  }
}

}  // namespace
}  // namespace tovi::media
