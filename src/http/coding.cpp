#include "http/coding.h"

#include <stdexcept>

namespace tovi::http {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentEncode(const std::string& s, bool (*mustEncode)(unsigned char)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(s.size());
  for (const char c : s) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (mustEncode(b)) {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

std::string URLDecode(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      std::size_t end = i + 3 < s.size() ? i + 3 : s.size();
      int value = 0;
      bool hex = end > i + 1;
      for (std::size_t j = i + 1; j < end; ++j) {
        int h = HexDigitValue(s[j]);
        if (h < 0) {
          hex = false;
          break;
        }
        value = value * 16 + h;
      }
      if (hex && value > 0) out += static_cast<char>(value);
      i = end - 1;
    } else {
      out += c;
    }
  }
  return out;
}

std::int64_t ParseChunkSize(const std::string& line) {
  constexpr std::int64_t kLargest = std::int64_t{1} << 62;
  std::size_t end = line.find_first_of(" \t;");
  if (end == std::string::npos) end = line.size();
  if (end == 0) return 0;
  std::int64_t size = 0;
  for (std::size_t i = 0; i < end; ++i) {
    const int digit = HexDigitValue(line[i]);
    if (digit < 0) return 0;
    size = size >= kLargest / 16 ? kLargest : size * 16 + digit;
  }
  return size < kLargest ? size : kLargest;
}

std::string Base64Encode(const std::string& bytes) {
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                 (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kBase64[(v >> 18) & 63];
    out += kBase64[(v >> 12) & 63];
    out += rest == 2 ? kBase64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Decode(const std::string& text) {
  std::string out;
  unsigned acc = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = Base64Value(c);
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

void DottedToAddress(const std::string& dotted, std::uint8_t out[4]) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = part < 3 ? dotted.find('.', start) : std::string::npos;
    std::string text = dotted.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    std::size_t used = 0;
    long value = 0;
    try {
      value = std::stol(text, &used, 10);
    } catch (const std::exception&) {
      used = 0;
    }
    if (text.empty() || used != text.size()) {
      throw std::invalid_argument("'" + text + "' is not a valid integer value");
    }
    out[part] = static_cast<std::uint8_t>(value);
    if (dot == std::string::npos) {
      for (int rest = part + 1; rest < 4; ++rest) out[rest] = 0;
      return;
    }
    start = dot + 1;
  }
}

std::string AddressToDotted(const std::uint8_t address[4]) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

}  // namespace tovi::http
