// Object ids: every path of the tree comes back from its id, and no id reaches past the drives.
#include "dlna/object_ids.h"

#include <gtest/gtest.h>

namespace tovi::dlna {
namespace {

using local::PathStyle;

const PathRules kWindows{PathStyle::Windows, '\\', {"C:\\", "D:\\"}};
const PathRules kPosix{PathStyle::Posix, '/', {"/", "/media/usb/"}};

std::string Shown(const std::string& path) {
  std::string out;
  for (char c : path.substr(0, 80)) out += c == '\0' ? std::string("<NUL>") : std::string(1, c);
  return out;
}

TEST(ObjectIds, NameEveryPathOfTheTreeReversiblyInUrlSafeCharacters) {
  struct Case { std::string path; const PathRules& rules; std::string parentPath; };
  const Case cases[] = {
      {"C:\\", kWindows, ""},
      {"d:\\", kWindows, ""},
      {"C:\\F\\", kWindows, "C:\\"},
      {"C:\\F\\a.mkv", kWindows, "C:\\F\\"},
      {"C:\\\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B\\a & b's #1 +%.mkv", kWindows,
       "C:\\\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B\\"},
      {"C:\\F\\a.b.mkv", kWindows, "C:\\F\\"},
      {"/", kPosix, ""},
      {"/media/usb/", kPosix, ""},
      {"/media/", kPosix, "/"},
      {"/m/<a> \"q\" 'x' ?&=.mkv", kPosix, "/m/"},
      {"/m/\xFF\xFE latin1 \xE9.avi", kPosix, "/m/"},  // POSIX names are bytes
      {"/m/a\\b", kPosix, "/m/"},
      {"/a", kPosix, "/"},
      {"/ab", kPosix, "/"},
      {"/abc", kPosix, "/"},
  };
  for (const Case& c : cases) {
    const std::string id = ObjectIdOfPath(c.path);
    EXPECT_EQ(id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
              std::string::npos)
        << c.path;
    EXPECT_NE(id, kRootId) << c.path;
    EXPECT_EQ(PathOfObjectId(id, c.rules), c.path) << c.path;
    EXPECT_EQ(ParentIdOf(c.path, c.rules), c.parentPath.empty() ? kRootId : ObjectIdOfPath(c.parentPath))
        << c.path;
  }
}

TEST(ObjectIds, NameNothingOutsideTheDrivesOrUnsafe) {
  struct Case { std::string path; const PathRules& rules; };
  const std::string nul(1, '\0');
  const Case paths[] = {
      {"\\\\host\\share\\a.mkv", kWindows},
      {"//host/share/a.mkv", kWindows},
      {"\\\\?\\C:\\a.mkv", kWindows},
      {"\\\\.\\COM1", kWindows},
      {"C:\\a.mkv" + nul + ".txt", kWindows},
      {"C:\\..\\x.mkv", kWindows},
      {"C:\\F\\..\\..\\x.mkv", kWindows},
      {"C:\\F\\.\\x.mkv", kWindows},
      {"C:\\F\\...\\x.mkv", kWindows},
      {"C:\\F\\. .\\x.mkv", kWindows},
      {"C:\\F/../../x.mkv", kWindows},
      {"C:\\F\\\\x.mkv", kWindows},
      {"C:\\a.mkv:stream", kWindows},
      {"C:a.mkv", kWindows},
      {"E:\\a.mkv", kWindows},          // not a listed drive
      {"F\\a.mkv", kWindows},
      {"C:\\\xFF.mkv", kWindows},        // no UTF-8: two ids could name one file
      {"", kWindows},
      {"relative/a.mkv", kPosix},
      {"/a/../b.mkv", kPosix},
      {"/media/usb/../../etc/passwd", kPosix},
      {"/./a.mkv", kPosix},
      {"/a//b.mkv", kPosix},
      {"/a" + nul + "/b.mkv", kPosix},
      {"/dev/sda" + nul, kPosix},
      {"/" + std::string(kMaxObjectPathBytes, 'a'), kPosix},  // longer than any path may be
  };
  for (const Case& c : paths) {
    EXPECT_EQ(PathOfObjectId(ObjectIdOfPath(c.path), c.rules), std::nullopt) << Shown(c.path);
  }
  // Ids that are no base64url of a path: the root itself, other characters, padding, a lone
  // last character, unused bits set (one text, one id).
  const std::string ids[] = {kRootId, "", "$", "L2E$", "L2E=", "L2E.", "L2E/", "L2EuB", "L2F"};
  for (const std::string& id : ids) EXPECT_EQ(PathOfObjectId(id, kPosix), std::nullopt) << id;
  EXPECT_EQ(PathOfObjectId("L2E", kPosix), "/a");  // the same as "L2F" but for its unused bits
}

}  // namespace
}  // namespace tovi::dlna
