#include "media/audio_frames.h"

#include <array>

#include "media/reading.h"

namespace tovi::media {

namespace {

using KbpsTable = std::array<std::uint32_t, 15>;  // by bitrate index; 0 is free format
// By [version 1 or not][layer - 1].
constexpr KbpsTable kBitrateKbps[2][3] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}}};
constexpr std::array<std::uint32_t, 3> kMpegRates = {44100, 48000, 32000};  // version 1
constexpr std::array<std::uint32_t, 13> kAacRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                     22050, 16000, 12000, 11025, 8000,  7350};
constexpr std::array<std::uint32_t, 3> kAc3Rates = {48000, 44100, 32000};
constexpr std::array<std::uint32_t, 8> kAc3Channels = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod
constexpr std::uint32_t kAacSamples = 1024;
constexpr std::uint32_t kAc3Samples = 1536;
// AC-3's bsid; higher ones are E-AC-3, whose header differs.
constexpr unsigned kMaxAc3Bsid = 10;

}  // namespace

std::optional<AudioFrame> ParseMpegAudioFrame(std::string_view b) {
  if (b.size() < 4) return std::nullopt;
  const std::uint64_t word = BigEndian(b, 0, 4);
  const unsigned version = word >> 19 & 3, layerBits = word >> 17 & 3, bitrateIndex = word >> 12 & 15,
                 rateIndex = word >> 10 & 3, padding = word >> 9 & 1, mode = word >> 6 & 3;
  if ((word >> 21) != 0x7ff || version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
      rateIndex == 3)
    return std::nullopt;
  AudioFrame f;
  f.layer = 4 - layerBits;
  f.mpeg1 = version == 3;
  f.sampleRate = kMpegRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  f.bitrateKbps = kBitrateKbps[f.mpeg1][f.layer - 1][bitrateIndex];
  f.channels = mode == 3 ? 1 : 2;
  f.samples = f.layer == 1 ? 384 : f.layer == 2 || f.mpeg1 ? 1152 : 576;
  f.bytes = f.layer == 1 ? (12 * f.bitrateKbps * 1000 / f.sampleRate + padding) * 4
                         : f.samples / 8 * f.bitrateKbps * 1000 / f.sampleRate + padding;
  return f;
}

std::optional<AudioFrame> ParseAdtsFrame(std::string_view b) {
  if (b.size() < 4) return std::nullopt;
  const std::uint64_t word = BigEndian(b, 0, 4);
  const unsigned rateIndex = word >> 10 & 15, channelConfig = word >> 6 & 7;
  if ((word >> 20) != 0xfff || (word >> 17 & 3) != 0 || rateIndex >= kAacRates.size() || channelConfig == 0)
    return std::nullopt;
  AudioFrame f;
  f.sampleRate = kAacRates[rateIndex];
  f.channels = channelConfig == 7 ? 8 : channelConfig;
  f.samples = kAacSamples;
  return f;
}

// E-AC-3 (bsid 11 to 16): after the sync word, the stream type, substream and frame size, one byte
// of rate code, block count (or the half rates' code), coding mode and LFE bit.
std::optional<AudioFrame> ParseEac3Frame(std::string_view b) {
  constexpr std::array<std::uint32_t, 4> kBlocks = {1, 2, 3, 6};
  constexpr unsigned kMaxEac3Bsid = 16, kDependent = 1;
  const unsigned bsid = static_cast<unsigned>(BigEndian(b, 5, 1) >> 3);
  if (bsid <= kMaxAc3Bsid || bsid > kMaxEac3Bsid || (BigEndian(b, 2, 1) >> 6) == kDependent)
    return std::nullopt;
  const unsigned bits = static_cast<unsigned>(BigEndian(b, 4, 1));
  const unsigned rateCode = bits >> 6, mode = bits >> 1 & 7;
  if (rateCode == 3 && (bits >> 4 & 3) == 3) return std::nullopt;  // reserved
  AudioFrame f;
  f.sampleRate = rateCode == 3 ? kAc3Rates[bits >> 4 & 3] / 2 : kAc3Rates[rateCode];
  f.channels = kAc3Channels[mode] + (bits & 1);
  f.samples = 256 * (rateCode == 3 ? 6 : kBlocks[bits >> 4 & 3]);
  return f;
}

std::optional<AudioFrame> ParseAc3Frame(std::string_view b) {
  if (b.size() < 8 || BigEndian(b, 0, 2) != 0x0b77) return std::nullopt;
  if (BigEndian(b, 5, 1) >> 3 > kMaxAc3Bsid) return ParseEac3Frame(b);
  const unsigned rateCode = static_cast<unsigned>(BigEndian(b, 4, 1) >> 6);
  if (rateCode >= kAc3Rates.size()) return std::nullopt;
  // acmod's 3 bits, then 2-bit mix levels present for some modes, then the LFE bit.
  const std::uint32_t bits = static_cast<std::uint32_t>(BigEndian(b, 6, 2));
  const unsigned mode = bits >> 13;
  int skip = 0;
  if ((mode & 1) && mode != 1) skip += 2;
  if (mode & 4) skip += 2;
  if (mode == 2) skip += 2;
  const unsigned lfe = bits >> (12 - skip) & 1;
  AudioFrame f;
  f.sampleRate = kAc3Rates[rateCode];
  f.channels = kAc3Channels[mode] + lfe;
  f.samples = kAc3Samples;
  return f;
}

std::optional<AudioFrame> ParseAudioFrame(std::string_view b) {
  if (auto f = ParseAdtsFrame(b)) return f;
  if (auto f = ParseMpegAudioFrame(b)) return f;
  return ParseAc3Frame(b);
}

std::optional<std::uint32_t> AacConfigChannels(std::string_view config) {
  if (config.size() < 4) return std::nullopt;
  // Object type (5 bits, or 11), rate index (4 bits, or 28), channel configuration (4).
  const std::uint64_t bits = BigEndian(config, 0, 4);
  int used = (bits >> 27) == 31 ? 11 : 5;
  used += ((bits >> (28 - used)) & 0xf) == 0xf ? 28 : 4;
  if (used + 4 > 32) return std::nullopt;
  const auto channels = static_cast<std::uint32_t>((bits >> (28 - used)) & 0xf);
  if (channels >= 1 && channels <= 6) return channels;
  if (channels == 7) return 8;
  return std::nullopt;  // 0: a program config element says; past 7: reserved
}

}  // namespace tovi::media
