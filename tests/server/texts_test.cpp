#include "server/texts.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"

#include <cmath>
#include <cstdio>
#include <set>

namespace tovi::server {
namespace {

struct SplitCase { std::string text; std::vector<std::string> pieces; };

TEST(SplitByChars, GivesAtLeastThreePieces) {
  const SplitCase cases[] = {
      {"", {"", "", ""}},
      {"Model", {"Model", "", ""}},
      {"name|code|room", {"name", "code", "room"}},
      {"a|b|c|d|e", {"a", "b", "c", "d", "e"}},
      {"|x", {"", "x", ""}},
      {"a||b", {"a", "", "b"}},
      {"a|b|c|", {"a", "b", "c"}},
      {"a|b|c||", {"a", "b", "c", ""}},
      {"|", {"", "", ""}},
      {"||||", {"", "", "", ""}},
      {"\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F|tv", {"\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F", "tv", ""}},
  };
  const CharSet bar = MakeCharSet("|");
  for (const SplitCase& c : cases) EXPECT_EQ(SplitByChars(c.text, bar), c.pieces) << c.text;
  EXPECT_EQ(SplitByChars("a;b,c", MakeCharSet(";,")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitByChars(std::string("a\xFF" "b", 3), MakeCharSet("\xFF")),
            (std::vector<std::string>{"a", "b", ""}));
}

TEST(PathPieces, LastPosAndLastComponent) {
  EXPECT_EQ(LastPos("\\", "C:\\Films\\"), 9u);
  EXPECT_EQ(LastPos("\\", "C:\\Films\\a.mkv"), 9u);
  EXPECT_EQ(LastPos("/", "abc"), 0u);
  EXPECT_EQ(LastPos("ab", "abxab"), 4u);
  EXPECT_EQ(LastPos("", "abc"), 0u);
  EXPECT_EQ(LastPos("\\", ""), 0u);

  struct Case { const char* path; char sep; const char* last; };
  const Case cases[] = {
      {"C:\\Films\\Sub\\", '\\', "Sub"}, {"C:\\", '\\', "C:"},
      {"C:\\Films\\a.mkv", '\\', "a.mkv"}, {"a.mkv", '\\', "a.mkv"},
      {"C:/Films/a.mkv", '\\', "C:/Films/a.mkv"}, {"/home/me/Films/", '/', "Films"},
      {"/home/me/a b.mkv", '/', "a b.mkv"}, {"/", '/', ""}, {"", '/', ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LastPathComponent(c.path, c.sep), c.last) << c.path;
}

TEST(SizeLabels, RoundToTwoDecimalsHalfEven) {
  struct Case { std::int64_t bytes; const char* label; };
  const Case cases[] = {
      {0, "0KB"},       {500, "0.49KB"},         {1536, "1.5KB"},
      {1024, "1KB"},    {128, "0.12KB"},         {384, "0.38KB"},  // exact halves go to even
      {1152, "1.12KB"}, {10, "0.01KB"},          {5, "0KB"},
      {1048576, "1024KB"},                      // only above 1024 KB do megabytes start
      {1048577, "1MB"}, {3 * 1048576, "3MB"},    {1048576 + 524288, "1.5MB"},
      {1048576 + 10485, "1.01MB"},
      {2147483648LL, "2048MB"},                  // 2 GiB and more keep their true size
      {4294967296LL + 1048576LL * 512, "4608MB"},
      {1099511627776LL * 3, "3145728MB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSizeLabel(c.bytes, "."), c.label) << c.bytes;
  EXPECT_EQ(FormatSizeLabel(1536, ","), "1,5KB");
  EXPECT_EQ(FormatSizeLabel(1536, "\xD9\xAB"), "1\xD9\xAB" "5KB");  // the Arabic separator
  // Against floating point where the value is far from a half: the label is that of k.
  for (std::int64_t bytes = 0; bytes < 1048576; bytes += 4099) {
    const double k = bytes / 1024.0;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.2f", k);
    std::string want = expected;
    while (want.back() == '0') want.pop_back();
    if (want.back() == '.') want.pop_back();
    if (std::abs(k * 100 - std::floor(k * 100) - 0.5) > 1e-6) {
      EXPECT_EQ(FormatSizeLabel(bytes, "."), want + "KB") << bytes;
    }
  }
}

TEST(PlaylistUrls, EncodeOnlyWhatDecodingWouldBreak) {
  EXPECT_EQ(EncodeUrlItem("C:\\Films\\My Film (2001).mkv"), "C:\\Films\\My Film (2001).mkv");
  EXPECT_EQ(EncodeUrlItem("/home/me/\xD0\xB0 b=c;d.mkv"), "/home/me/\xD0\xB0 b=c;d.mkv");
  EXPECT_EQ(EncodeUrlItem("100% a&b+c#d?e"), "100%25 a%26b%2Bc%23d%3Fe");
  EXPECT_EQ(M3uEntry("T", "http://x/"), "#EXTINF:-1,T\n\rhttp://x/\n\r");
}

struct PathCase {
  const char* request;
  PathStyle style;
  std::set<std::string> files;
  std::string path;
};

TEST(RequestPaths, NameLocalFiles) {
  // Raw bytes are read in the ANSI code page (the same bytes on POSIX, where it is UTF-8).
  const std::string rawName = text::AnsiToUtf8("x\xFF.mkv");
  const PathCase cases[] = {
      {"/C:/Films/a.mkv", PathStyle::Windows, {}, "C:\\Films\\a.mkv"},
      {"/C:/Am\xC3\xA9lie.mkv", PathStyle::Windows, {}, "C:\\Am\xC3\xA9lie.mkv"},  // UTF-8 as it is
      {"/test", PathStyle::Windows, {}, "test"},
      {"/", PathStyle::Windows, {}, ""},
      {"", PathStyle::Windows, {}, ""},
      {"/C:/x\xFF.mkv", PathStyle::Windows, {}, ""},                  // malformed UTF-8
      {"/C:/x\xFF.mkv", PathStyle::Windows, {"\\C:\\" + rawName}, "C:\\" + rawName},  // raw exists
      {"/home/me/film.mkv", PathStyle::Posix, {"/home/me/film.mkv"}, "/home/me/film.mkv"},
      {"/home/me/film.mkv", PathStyle::Posix, {}, "/home/me/film.mkv"},
      {"/abc", PathStyle::Posix, {}, "/abc"},
      {"/a\xFF", PathStyle::Posix, {}, ""},
      {"/a\xFF", PathStyle::Posix, {"/a" + text::AnsiToUtf8("\xFF")}, "/a" + text::AnsiToUtf8("\xFF")},
  };
  for (const PathCase& c : cases) {
    const auto exists = [&](const std::string& p) { return c.files.count(p) != 0; };
    EXPECT_EQ(RequestFilePath(c.request, c.style, exists), c.path) << c.request;
  }
}

TEST(RequestPaths, NeverLeaveTheLocalDrives) {
  struct Case { const char* path; bool local; };
  const Case cases[] = {
      {"C:\\Films\\a.mkv", true}, {"\\C:\\Films\\a.mkv", true}, {"test", true}, {"", true},
      {"\\127.0.0.1\\share\\x", true},  // the current drive's folder "127.0.0.1"
      {"C:\\Films\\console.mkv", true}, {"C:\\nully\\a.mkv", true}, {"C:\\COM10", true},
      {"C:\\LPT", true}, {"C:\\a.nul", true}, {"C:\\Films\\x\\\\y", true},
      {"\\\\host\\share\\x", false}, {"//host/share/x", false}, {"\\/host/x", false},
      {"\\\\?\\C:\\x", false}, {"\\\\.\\PhysicalDrive0", false}, {"\\?" "?\\UNC\\host\\x", false},
      {"/?" "?/C:/x", false}, {"\\\\", false},
      {"C:\\Films\\nul.mkv", false}, {"NUL", false}, {"con", false}, {"C:\\aux.tar.gz", false},
      {"C:\\x\\COM1", false}, {"lpt9.txt", false}, {"C:\\Com\xC2\xB9.mkv", false},
      {"CONIN$", false}, {"conout$.x", false}, {"C:\\prn  .txt", false}, {"C:nul", false},
      {"C:\\nul\\a.mkv", false}, {"C:/Films/COM0", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StaysOnLocalDrives(c.path, PathStyle::Windows), c.local) << c.path;
  }
  for (const char* posix : {"//host/share/x", "/home/me/NUL", "/dev/con"}) {
    EXPECT_TRUE(StaysOnLocalDrives(posix, PathStyle::Posix)) << posix;
  }
  // The file system is not even asked about a request that names a share or a device.
  std::vector<std::string> asked;
  const auto exists = [&](const std::string& p) { asked.push_back(p); return false; };
  for (const char* request : {"//127.0.0.1/share/x", "///127.0.0.1/share/x",
                              "/\\\\127.0.0.1\\share\\x", "/\\\\?\\UNC\\127.0.0.1\\s\\x",
                              "/\\\\.\\pipe\\x", "/C:/nul", "/con.mkv", "/C:/Films/COM1.mkv"}) {
    RequestFilePath(request, PathStyle::Windows, exists);
    EXPECT_TRUE(asked.empty()) << request << " asked about " << asked.front();
    asked.clear();
  }
}

TEST(RequestPaths, WithNulNeverReachTheFileSystem) {
  // The system's calls end a name at the NUL: COM1 the device, "a" the folder, "x.mkv" the file.
  using namespace std::string_literals;
  const std::string cases[] = {"/COM1\0"s, "/C:/a\0/../"s, "/tmp/a\0/../"s, "/x.mkv\0.txt"s,
                               "/\0"s, "/C:/\0"s};
  for (const PathStyle style : {PathStyle::Windows, PathStyle::Posix}) {
    for (const std::string& request : cases) {
      std::string shown;
      for (char c : request) shown += c == '\0' ? std::string("%00") : std::string(1, c);
      EXPECT_FALSE(StaysOnLocalDrives(request, style)) << shown;
      EXPECT_FALSE(StaysOnLocalDrives(request.substr(1), style)) << shown;
      bool asked = false;
      RequestFilePath(request, style, [&](const std::string&) { return asked = true; });
      EXPECT_FALSE(asked) << shown;
    }
  }
}

}  // namespace
}  // namespace tovi::server
