#include "http/header_list.h"

#include <gtest/gtest.h>

#include "http/header_info.h"

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
      {{"X: a:b:c"}, "X", "a:b:c"},                             // value after the first colon
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

struct RangeCase {
  const char* header;  // nullptr: no Range line
  std::uint64_t start, end;
  bool present, hasEnd, suffix;
};

TEST(RequestHeaders, ParseRangeKeepingTheTableAndTheRfcFacts) {
  const RangeCase cases[] = {
      {nullptr, 0, 0, false, false, false},
      {"Range: bytes=100-200", 100, 200, true, true, false},
      {"Range: bytes=100-", 100, 0, true, false, false},
      {"Range: bytes=-500", 0, 500, true, true, true},
      {"Range: bytes=0-", 0, 0, true, false, false},
      {"Range: bytes=0-10,20-30", 0, 0, true, false, false},
      {"Range: bytes=5000000000-6000000000", 5000000000ull, 6000000000ull, true, true, false},
      {"Range: 100-200", 0, 0, true, false, false},  // no "=": all of it dropped
      {"Range: bytes=x-y", 0, 0, true, false, false},
      {"Range : bytes=1-2", 0, 0, false, false, false},
      {"Range: bytes=7-9 extra", 7, 9, true, true, false},
  };
  for (const RangeCase& c : cases) {
    TNetRequestHeaderInfo info;
    if (c.header) info.HeaderLines().Add(c.header);
    info.ProcessHeaders();
    const char* label = c.header ? c.header : "(none)";
    EXPECT_EQ(info.ContentRangeStart(), c.start) << label;
    EXPECT_EQ(info.ContentRangeEnd(), c.end) << label;
    EXPECT_EQ(info.HasRange(), c.present) << label;
    EXPECT_EQ(info.RangeHasEnd(), c.hasEnd) << label;
    EXPECT_EQ(info.RangeIsSuffix(), c.suffix) << label;
  }
  TNetRequestHeaderInfo two;
  two.HeaderLines().Add("Range: bytes=1-2");
  two.HeaderLines().Add("Range: bytes=3-4");
  two.ProcessHeaders();
  EXPECT_EQ(two.ContentRangeStart(), 1u);
}

TEST(RequestHeaders, ContentLengthIs64BitAndMinusOneWhenInvalid) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"Content-Length: 14", 14},           {"Content-Length:  7 ", 7},
      {"Content-Length: 5000000000", 5000000000ll}, {"Content-Length: x", -1},
      {"Content-Length: -5", -1},           {"Content-Length: 99999999999999999999", -1},
      {"Other: 1", -1},
  };
  for (const auto& [line, length] : cases) {
    TNetRequestHeaderInfo info;
    info.HeaderLines().Add(line);
    info.ProcessHeaders();
    EXPECT_EQ(info.ContentLength(), length) << line;
    EXPECT_EQ(info.HasContentLength(), length >= 0) << line;
  }
}

TEST(HttpDates, FormatAndParseTheThreeForms) {
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
  EXPECT_EQ(ParseHttpDate("yesterday"), 0);
}

}  // namespace
}  // namespace tovi::http
