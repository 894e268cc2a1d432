// What a media file says of itself in its own headers: its length, picture size, rate and sound,
// read by one small reader per container (mp4.h, matroska.h, ...), each pure: bytes in through a
// ByteSource, facts out, nothing else touched. A reader returns what it could read and leaves the
// rest empty; a file it does not recognise, or a damaged one, gives no facts (std::nullopt), and
// no input makes it crash, loop without end, or read past the source's budget.
// Thread safety: a reader keeps no state; one ByteSource is used by one reader at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::media {

struct MediaFacts {
  std::optional<std::uint64_t> durationMs;       // playing time
  std::optional<std::uint32_t> width, height;    // pixels of the (first) picture
  std::optional<std::uint32_t> bitrate;          // bytes per second, as UPnP's res@bitrate
  std::optional<std::uint32_t> channels;         // of the (first) sound
  std::optional<std::uint32_t> sampleRate;       // Hz, of the (first) sound
  // An embedded front cover (an MP3's ID3v2 APIC picture): its bytes' place in the file.
  std::optional<std::uint64_t> coverOffset;
  std::optional<std::uint32_t> coverLength;
  std::string coverMime;                         // "image/jpeg", "image/png"
  // The file's tracks are sound alone, no picture (MP4, Matroska): music in a video container.
  bool soundOnly = false;
  // A JPEG that no DLNA picture profile covers at any size: coded other than baseline (progressive,
  // as web sites save most posters) or with four colour components (CMYK, from print work).
  bool unprofiledJpeg = false;
  // The extension of the container the file holds when its name's is another's ("mkv" for a
  // Matroska file named .avi), so that it is announced and served as what it is; "" otherwise.
  std::string_view heldExtension;

  bool Empty() const {
    return !durationMs && !width && !height && !bitrate && !channels && !sampleRate && !coverOffset;
  }
};

// The bytes of one file, read at any offset. Every read counts against a budget: once
// kMaxReadBytes or kMaxReads are spent, reads return nothing, so a reader fed a lying header
// ends with what it has.
class ByteSource {
 public:
  // What one file may cost a reader: a few reads, 4 MiB in all. A container's headers and ends
  // take 1 MiB at most; the rest is for reading on to a picture's size in a broadcast recording
  // cut amid a group of pictures (mpeg_ts.h).
  static constexpr std::size_t kMaxReadBytes = 4 << 20;
  static constexpr int kMaxReads = 64;

  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Up to length bytes at offset into out, fewer at the end of the file or of the budget; the
  // count read.
  std::size_t Read(std::uint64_t offset, void* out, std::size_t length);
  // Read into a string: at most length bytes, fewer at the end or when the budget is spent.
  std::string ReadString(std::uint64_t offset, std::size_t length);
  std::size_t BytesRead() const { return bytesRead_; }
  int Reads() const { return reads_; }

 protected:
  // The platform's read, without the budget: bytes actually read.
  virtual std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t length) = 0;

 private:
  std::size_t bytesRead_ = 0;
  int reads_ = 0;
};

// Bytes held in memory (tests, fuzzing).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }

 protected:
  std::size_t ReadAt(std::uint64_t offset, void* out, std::size_t length) override;

 private:
  std::string_view bytes_;
};

// The reader for a file by its extension (lower case, no dot: "mp4", "mkv", ...), run on source;
// nothing for an extension no reader knows. A video file that reader finds nothing in is
// read by its first bytes' container instead, named in heldExtension: files are renamed
// carelessly (a Matroska film as .avi or .mp4, an MP4 as .mkv, a TS as .mpg).
std::optional<MediaFacts> ReadFacts(std::string_view extension, ByteSource& source);

}  // namespace tovi::media
