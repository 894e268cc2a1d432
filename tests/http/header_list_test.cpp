#include "http/header_list.h"

#include <gtest/gtest.h>


namespace tovi::http {
namespace {

TNetHeaderList ListOf(std::initializer_list<const char*> lines) {
  TNetHeaderList list;
  for (const char* line : lines) list.Add(line);
  return list;
}

struct LookupCase {
  std::initializer_list<const char*> lines;
  const char* name;
  const char* value;
};

TEST(HeaderList, LooksUpValuesAsBothEnginesReadThem) {
  const LookupCase cases[] = {
      {{"Host: a"}, "host", "a"},                              // any case
      {{"Range : bytes=1-2"}, "Range", ""},                    // the name is not trimmed
      {{"Range : bytes=1-2"}, "Range ", "bytes=1-2"},
      {{"X: 1", "X: 2"}, "X", "1"},                             // the first line counts
      {{"X:   padded \t"}, "X", "padded"},                      // blanks and controls trimmed
      {{"X: a", " b", "\tc", "Y: d"}, "X", "a b c"},            // continuation lines joined
      {{"X:", " a", " \t", " b "}, "X", "a b"},                   // blank pieces add no blanks
      {{"X: a:b:c"}, "X", "a:b:c"},                             // value after the first colon
      {{"a:b: 1", "a:b:c"}, "a:b", ""},                         // the name ends at the first colon
      {{"Hostname: x", "Host: y"}, "Host", "y"},
      {{"no colon"}, "", ""},
      {{"A: 1"}, "B", ""},
      {{"X: caf\xC3\xA9"}, "X", "caf\xC3\xA9"},                 // high bytes are not trimmed
  };
  for (const LookupCase& c : cases) {
    TNetHeaderList list;
    for (const char* line : c.lines) list.Add(line);
    EXPECT_EQ(list.Values(c.name), c.value) << c.name;
  }
}

TEST(HeaderList, JoinsAPeersMillionContinuationLinesInOnePass) {
  // 3 MB of head: joined once each, not rejoined per line (which would not end in hours).
  constexpr std::size_t kLines = 1000000;
  TNetHeaderList list;
  list.Add("Content-Type: x");
  for (std::size_t i = 0; i < kLines; ++i) list.Add(" a");
  list.Add("Set-Cookie: s=1");
  for (std::size_t i = 0; i < kLines; ++i) list.Add("\tb");
  std::string joined = "x";
  for (std::size_t i = 0; i < kLines; ++i) joined += " a";
  EXPECT_TRUE(list.Values("Content-Type") == joined);
  const std::vector<std::string> cookies = list.Extract("set-cookie");
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].size(), 3 + 2 * kLines);
}

TEST(HeaderList, ExtractsEveryValueInOrder) {
  TNetHeaderList list = ListOf({"Cookie: a=1", "Other: x", "cookie: b=2", " c=3"});
  EXPECT_EQ(list.Extract("Cookie"), (std::vector<std::string>{"a=1", "b=2 c=3"}));
}

TEST(HeaderList, SetValueReplacesInPlaceAppendsOrDeletes) {
  TNetHeaderList list = ListOf({"A: 1", "B: 2", " more", "C: 3"});
  list.SetValue("b", "new");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: new\r\nC: 3\r\n");
  list.SetValue("D", "4");
  EXPECT_EQ(list.Text(), "A: 1\r\nb: new\r\nC: 3\r\nD: 4\r\n");
  list.SetValue("A", "");
  EXPECT_EQ(list.Text(), "b: new\r\nC: 3\r\nD: 4\r\n");
  list.SetValue("missing", "");
  EXPECT_EQ(list.Count(), 3u);
}

TEST(HeaderList, FoldsLongValuesOutsideQuotes) {
  TNetHeaderList list(kCustomFoldLength);
  std::string value;
  for (int i = 0; i < 20; ++i) value += "word" + std::to_string(i) + ", ";
  value += "end";
  list.SetValue("X-Long", value);
  ASSERT_GT(list.Count(), 1u);
  for (std::size_t i = 0; i < list.Count(); ++i) {
    EXPECT_LE(list[i].size(), 78u) << list[i];
    if (i > 0) {
      EXPECT_EQ(list[i][0], ' ');
    }
  }
  // Folding loses nothing: the value reads back whole.
  EXPECT_EQ(list.Values("X-Long"), value);

  TNetHeaderList quoted(kCustomFoldLength);
  std::string inQuotes = "\"" + std::string(100, 'a') + " " + std::string(10, 'b') + "\"";
  quoted.SetValue("Q", inQuotes);
  EXPECT_EQ(quoted.Count(), 1u);  // no break point outside the quotes

  TNetHeaderList unfolded(kCustomFoldLength);
  unfolded.SetFoldLines(false);
  unfolded.SetValue("X-Long", value);
  EXPECT_EQ(unfolded.Count(), 1u);
}

}  // namespace
}  // namespace tovi::http
