#include "http/coding.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "http/exceptions.h"

namespace tovi::http {
namespace {

TEST(URLDecoding, DecodesAsTheRequestLoopNeeds) {
  const std::pair<std::string, std::string> cases[] = {
      {"/My%20Films/a+b.mp4", "/My Films/a b.mp4"},
      {"%41%2", std::string("A\x02", 2)},      // a short escape at the end still counts
      {"%", ""},
      {"a%00b", "ab"},                         // the zero byte produces nothing
      {"a%zzb", "ab"},                         // not hex: nothing, three characters used
      {"a%4", "a\x04"},
      {"%D0%90", "\xD0\x90"},                  // UTF-8 stays as its bytes
      {"C:%5CFilms%5C", "C:\\Films\\"},
      {"%2B", "+"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(URLDecode(in), out) << in;
}

TEST(ChunkSizes, ReadAsHexUpToAnExtension) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"1A", 26}, {"1a", 26}, {"0", 0},          {"", 0},        {"zz", 0},
      {"10 ", 16}, {"ff;name=v", 255}, {"8\t", 8}, {"FFFFFFFFFFFFFFFFFFFF", std::int64_t{1} << 62},
  };
  for (const auto& [line, size] : cases) EXPECT_EQ(ParseChunkSize(line), size) << line;
}

TEST(Base64, RoundTripsAndSkipsForeignCharacters) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"user:pass", "dXNlcjpwYXNz"},
  };
  for (const auto& [plain, coded] : cases) {
    EXPECT_EQ(Base64Encode(plain), coded);
    EXPECT_EQ(Base64Decode(coded), plain);
  }
  EXPECT_EQ(Base64Decode("dXNl\r\ncjpw YXNz"), "user:pass");
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}

TEST(DottedAddress, ConvertsBothWaysAndRejectsNonNumbers) {
  std::uint8_t a[4];
  DottedToAddress("127.0.0.1", a);
  EXPECT_EQ(AddressToDotted(a), "127.0.0.1");
  DottedToAddress("192.168.1.250", a);
  EXPECT_EQ(a[3], 250);
  try {
    DottedToAddress("127.x.0.1", a);
    FAIL() << "no conversion error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
}

TEST(SocketErrorTexts, CarryTheWindowsSocketsCodeAndText) {
  const std::pair<int, const char*> cases[] = {
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10048, "Socket Error # 10048\r\nAddress already in use."},
      {10054, "Socket Error # 10054\r\nConnection reset by peer."},
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {10005, "Socket Error # 10005\r\n"},
      {12345, "Socket Error # 12345\r\n"},
  };
  for (const auto& [code, text] : cases) {
    ENetSocketError e(code);
    EXPECT_STREQ(e.what(), text);
    EXPECT_EQ(e.LastError(), code);
  }
}

}  // namespace
}  // namespace tovi::http
