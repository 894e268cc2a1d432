// The header of one compressed sound frame, as it starts an MP3 file's audio or a transport
// stream's sound payload: MPEG audio (versions 1, 2 and 2.5, layers I to III), AAC in ADTS and
// AC-3. Gives the frame's rate, channels, samples and (MPEG audio) length in bytes; nothing for
// free-format, reserved or damaged headers. Also an AAC decoder configuration's channels.
// Pure: reads only the given bytes; safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace tovi::media {

struct AudioFrame {
  std::uint32_t sampleRate = 0, channels = 0, samples = 0;
  // MPEG audio only (0 otherwise): the layer (1..3), version 1 or not, bitrate, frame length.
  unsigned layer = 0;
  bool mpeg1 = false;
  std::uint32_t bitrateKbps = 0, bytes = 0;
};

std::optional<AudioFrame> ParseMpegAudioFrame(std::string_view header);
std::optional<AudioFrame> ParseAdtsFrame(std::string_view header);
std::optional<AudioFrame> ParseAc3Frame(std::string_view header);
// Whichever of the three the bytes start with.
std::optional<AudioFrame> ParseAudioFrame(std::string_view header);

// The channels an AAC decoder configuration (AudioSpecificConfig, as MP4's esds and FLV's first
// AAC tag carry it) says: nothing where a program config element says them, or for reserved ones.
std::optional<std::uint32_t> AacConfigChannels(std::string_view config);

}  // namespace tovi::media
