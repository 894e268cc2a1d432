#include "dlna/identity.h"

#include <array>
#include <cstdint>
#include <cstdio>

#include "platform/identity.h"

namespace tovi::dlna {
namespace {

// The namespace of our name-based UUIDs: a random UUID of our own, fixed forever (a change would
// make every PC a new device to every TV that knew it).
constexpr std::array<std::uint8_t, 16> kUuidNamespace = {0x17, 0x9a, 0xbe, 0x94, 0x52, 0x0d,
                                                         0x4f, 0x08, 0x81, 0x82, 0xee, 0xed,
                                                         0xda, 0x13, 0xe6, 0x1c};

// The version of the product in server headers: the version the program reports everywhere.
constexpr const char* kServerToken = "RemoteToviplayer/1.1";

std::uint32_t Rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// SHA-1 (FIPS 180-4), as RFC 4122 names it for version 5 UUIDs.
std::array<std::uint8_t, 20> Sha1(const std::string& message) {
  std::uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::string data = message;
  const std::uint64_t bits = static_cast<std::uint64_t>(message.size()) * 8;
  data.push_back(static_cast<char>(0x80));
  while (data.size() % 64 != 56) data.push_back('\0');
  for (int i = 7; i >= 0; --i) data.push_back(static_cast<char>((bits >> (i * 8)) & 0xFF));
  for (std::size_t block = 0; block < data.size(); block += 64) {
    std::uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const unsigned char*>(data.data() + block + i * 4);
      w[i] = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
    }
    for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
      std::uint32_t f, k;
      if (i < 20) {
        f = (b & c) | (~b & d);
        k = 0x5A827999;
      } else if (i < 40) {
        f = b ^ c ^ d;
        k = 0x6ED9EBA1;
      } else if (i < 60) {
        f = (b & c) | (b & d) | (c & d);
        k = 0x8F1BBCDC;
      } else {
        f = b ^ c ^ d;
        k = 0xCA62C1D6;
      }
      const std::uint32_t t = Rotl(a, 5) + f + e + k + w[i];
      e = d;
      d = c;
      c = Rotl(b, 30);
      b = a;
      a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
  }
  std::array<std::uint8_t, 20> out{};
  for (int i = 0; i < 20; ++i) out[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
  return out;
}

std::string NameBasedUuid(const std::string& name) {
  const std::string message(reinterpret_cast<const char*>(kUuidNamespace.data()), kUuidNamespace.size());
  std::array<std::uint8_t, 20> hash = Sha1(message + name);
  hash[6] = static_cast<std::uint8_t>((hash[6] & 0x0F) | 0x50);  // version 5
  hash[8] = static_cast<std::uint8_t>((hash[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  std::string text;
  char pair[3];
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    std::snprintf(pair, sizeof pair, "%02x", hash[i]);
    text += pair;
  }
  return text;
}

}  // namespace

DeviceIdentity MakeDeviceIdentity(const std::string& machineId, const std::string& pcName) {
  DeviceIdentity identity;
  // The prefix keeps the two sources apart: no machine id can pass for a PC name.
  identity.uuid = NameBasedUuid(machineId.empty() ? "name:" + pcName : "machine:" + machineId);
  identity.friendlyName =
      pcName.empty() ? std::string(kProductName) : std::string(kProductName) + " (" + pcName + ")";
  return identity;
}

DeviceIdentity ThisDeviceIdentity() {
  return MakeDeviceIdentity(machine::MachineId(), machine::ComputerName());
}

std::string Udn(const DeviceIdentity& identity) { return "uuid:" + identity.uuid; }

std::string ServerProduct() { return machine::SystemProduct() + " UPnP/1.0 " + kServerToken; }

}  // namespace tovi::dlna
