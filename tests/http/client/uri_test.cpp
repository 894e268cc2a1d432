// URLs go out unencoded; these cases pin what reaches the request line and the Host line.
#include <gtest/gtest.h>

#include "http/client/uri.h"

namespace tovi::http {
namespace {

struct UriCase {
  const char* url;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* params;
  const char* bookmark;
};

const UriCase kUriCases[] = {
    {"http://list.example/remote/index.php?v=1.1&do=list&localip=192.168.1.5:8027", "http", "",
     "", "list.example", "", "/remote/", "index.php", "?v=1.1&do=list&localip=192.168.1.5:8027",
     ""},
    {"http://h", "http", "", "", "h", "", "/", "", "", ""},
    {"http://h/", "http", "", "", "h", "", "/", "", "", ""},
    {"http://h:8080/a/b", "http", "", "", "h", "8080", "/a/", "b", "", ""},
    {"HTTP://H:80/", "HTTP", "", "", "H", "80", "/", "", "", ""},
    {"http://u:p@h/x", "http", "u", "p", "h", "", "/", "x", "", ""},
    {"http://:secret@h/x", "http", "", "", "h", "", "/", "x", "", ""},
    {"http://h/i.php?f=C:\\Lists\\my list.m3u", "http", "", "", "h", "", "/", "i.php",
     "?f=C:/Lists/my list.m3u", ""},
    {"http:\\\\h\\a\\b.txt", "http", "", "", "h", "", "/a/", "b.txt", "", ""},
    {"http://h/a?x=1#frag", "http", "", "", "h", "", "/", "a", "?x=1", "frag"},
    {"http://h/a#b?c=1", "http", "", "", "h", "", "/", "a", "", "b?c=1"},
    {"http://h/dir/a=b/c", "http", "", "", "h", "", "/dir/", "a", "=b/c", ""},
    {"http://h/a/b?x=/y/z", "http", "", "", "h", "", "/a/", "b", "?x=/y/z", ""},
    {"http://h/\xcf\xf0\xe8 100%/f.m3u", "http", "", "", "h", "", "/\xcf\xf0\xe8 100%/",
     "f.m3u", "", ""},
    {"ftp://h:21", "ftp", "", "", "h", "21", "/", "", "", ""},
    {"index.php?x=1", "", "", "", "", "", "", "index.php", "?x=1", ""},
    {"a/b/c", "", "", "", "", "", "a/b/", "c", "", ""},
};

TEST(UrlParts, SplitsWithoutEncoding) {
  for (const UriCase& c : kUriCases) {
    const TNetURI u = TNetURI::Parse(c.url);
    SCOPED_TRACE(c.url);
    EXPECT_EQ(u.Protocol, c.protocol);
    EXPECT_EQ(u.Username, c.user);
    EXPECT_EQ(u.Password, c.password);
    EXPECT_EQ(u.Host, c.host);
    EXPECT_EQ(u.Port, c.port);
    EXPECT_EQ(u.Path, c.path);
    EXPECT_EQ(u.Document, c.document);
    EXPECT_EQ(u.Params, c.params);
    EXPECT_EQ(u.Bookmark, c.bookmark);
  }
}

TEST(UrlParts, ResolvesRelativePaths) {
  struct Case { const char* base; const char* path; const char* expected; };
  const Case cases[] = {
      {"/a/b/", "/x/", "/x/"},     {"/a/b/", "c/", "/a/b/c/"}, {"/a/b/", "../c/", "/a/c/"},
      {"/a/b/", "./c//d/", "/a/b/c/d/"}, {"/a/", "../../../", "/"}, {"", "", "/"},
      {"", "x/", "/x/"},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolvePath(c.base, c.path), c.expected) << c.base << c.path;
}

}  // namespace
}  // namespace tovi::http
