#include "local/paths.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace tovi::local {
namespace {

TEST(PathPieces, LastComponent) {
  struct Case { const char* path; char sep; const char* last; };
  const Case cases[] = {
      {"C:\\Films\\Sub\\", '\\', "Sub"}, {"C:\\", '\\', "C:"},
      {"C:\\Films\\a.mkv", '\\', "a.mkv"}, {"a.mkv", '\\', "a.mkv"},
      {"C:/Films/a.mkv", '\\', "C:/Films/a.mkv"}, {"/home/me/Films/", '/', "Films"},
      {"/home/me/a b.mkv", '/', "a b.mkv"}, {"/", '/', ""}, {"", '/', ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LastPathComponent(c.path, c.sep), c.last) << c.path;
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
      {"\\Films\\nul.mkv", false}, {"NUL", false}, {"con", false}, {"aux.tar.gz", false},
      {"x\\COM1", false}, {"lpt9.txt", false}, {"\\Com\xC2\xB9.mkv", false},
      {"CONIN$", false}, {"conout$.x", false}, {"\\C:\\prn  .txt", false}, {"C:nul", false},
      {"C:nul\\a.mkv", false}, {"/C:/Films/COM0", false},
      // From a drive's root the system is asked in the \\?\ form, where these are names.
      {"C:\\Films\\Con.Air.1997.mkv", true}, {"C:\\Aux.Sessions\\01.mp3", true},
      {"C:/Films/COM1", true}, {"D:\\nul", true},
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
}  // namespace tovi::local
