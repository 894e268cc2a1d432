// The content tree over a temporary folder that stands for the PC's only drive: what Browse
// lists, in which order and pages, with which ids, and what the resource URLs stream through a
// real server engine on a loopback port.
#include "dlna/folder_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "dlna/device.h"
#include "dlna/media_types.h"
#include "dlna/object_ids.h"
#include "dlna/players.h"
#include "dlna/sort_order.h"
#include "dlna/subtitle_text.h"
#include "dlna/upnp_error.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "server/media_handler.h"
#include "server/playlists.h"
#include "support/fake_media_host.h"
#include "support/file_times.h"
#include "support/file_url.h"
#include "support/http_exchange.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::dlna {
namespace {

const bool kPosix = fs::kSeparator == '/';
const std::string kBase = "http://192.0.2.7:8027";

// A strict reader of what a control point's XML parser takes: nested elements, attributes in
// quotes, the five named entities and numeric ones, UTF-8 text; anything else is an error.
struct XmlNode {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<XmlNode> children;

  const XmlNode* Child(const std::string& n) const {
    for (const XmlNode& c : children) if (c.name == n) return &c;
    return nullptr;
  }
  std::string ChildText(const std::string& n) const {
    const XmlNode* c = Child(n);
    return c ? c->text : std::string("<missing " + n + ">");
  }
};

class XmlReader {
 public:
  explicit XmlReader(const std::string& doc) : doc_(doc) {}
  std::optional<XmlNode> Document(std::string* error) {
    std::optional<XmlNode> root = Element();
    if (root && pos_ != doc_.size()) Fail("text after the root");
    if (!error_.empty()) {
      *error = error_ + " at " + std::to_string(pos_);
      return std::nullopt;
    }
    return root;
  }

 private:
  std::optional<XmlNode> Element() {
    if (!Take('<')) return Fail("no element");
    XmlNode node;
    node.name = Name();
    for (;;) {
      const bool space = SkipSpace();
      if (Take('/')) {
        if (!Take('>')) return Fail("bad empty element");
        return node;
      }
      if (Take('>')) break;
      if (!space) return Fail("no space before an attribute");
      const std::string attribute = Name();
      if (!Take('=') || !Take('"')) return Fail("attribute without a quoted value");
      std::string value;
      if (!Text('"', &value) || !Take('"')) return Fail("unterminated attribute");
      if (!node.attributes.emplace(attribute, value).second) return Fail("attribute twice");
    }
    for (;;) {
      std::string text;
      if (!Text('<', &text)) return Fail("bad text");
      node.text += text;
      if (doc_.compare(pos_, 2, "</") == 0) {
        pos_ += 2;
        if (Name() != node.name || !Take('>')) return Fail("end tag of another element");
        return node;
      }
      std::optional<XmlNode> child = Element();
      if (!child) return std::nullopt;
      node.children.push_back(std::move(*child));
    }
  }
  // Text up to the stop character, entities resolved; no raw "<" or "&", UTF-8 only.
  bool Text(char stop, std::string* out) {
    while (pos_ < doc_.size() && doc_[pos_] != stop) {
      const char c = doc_[pos_];
      if (c == '<') return false;
      if (c == '&') {
        const std::size_t end = doc_.find(';', pos_);
        if (end == std::string::npos) return false;
        const std::string entity = doc_.substr(pos_ + 1, end - pos_ - 1);
        static const std::map<std::string, std::string> named{
            {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
        if (named.count(entity)) {
          *out += named.at(entity);
        } else if (entity.size() > 1 && entity[0] == '#') {
          text::AppendUtf8(static_cast<char32_t>(std::stoul(entity.substr(1))), out);
        } else {
          return false;
        }
        pos_ = end + 1;
        continue;
      }
      char32_t cp = 0;
      const std::size_t length = text::Utf8SequenceLength(doc_, pos_, &cp);
      if (length == 0 || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r')) return false;
      out->append(doc_, pos_, length);
      pos_ += length;
    }
    return pos_ < doc_.size();
  }
  std::string Name() {
    const std::size_t start = pos_;
    while (pos_ < doc_.size() && (std::isalnum(static_cast<unsigned char>(doc_[pos_])) ||
                                  doc_[pos_] == ':' || doc_[pos_] == '-' || doc_[pos_] == '_')) {
      ++pos_;
    }
    return doc_.substr(start, pos_ - start);
  }
  bool SkipSpace() {
    const std::size_t start = pos_;
    while (pos_ < doc_.size() && (doc_[pos_] == ' ' || doc_[pos_] == '\n')) ++pos_;
    return pos_ > start;
  }
  bool Take(char c) {
    if (pos_ >= doc_.size() || doc_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  std::nullopt_t Fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return std::nullopt;
  }

  const std::string& doc_;
  std::size_t pos_ = 0;
  std::string error_;
};

// The DIDL document's objects, parse-checked.
std::vector<XmlNode> Objects(const std::string& didl) {
  std::string error;
  const std::optional<XmlNode> root = XmlReader(didl).Document(&error);
  EXPECT_TRUE(root) << error << "\n" << didl;
  if (!root) return {};
  EXPECT_EQ(root->name, "DIDL-Lite");
  EXPECT_EQ(root->attributes.at("xmlns"), "urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/");
  return root->children;
}

class FolderContentTest : public ::testing::Test {
 protected:
  FolderContentTest() {
    Reopen([](FolderContentOptions& o) { o.maxBrowseCount = kBound; });
    rules_ = PathRules{fs::kSeparator == '\\' ? local::PathStyle::Windows : local::PathStyle::Posix,
                       fs::kSeparator, {dir_.Folder()}};
  }

  // The tree over the temporary drive, with no media folders unless the change gives some.
  void Reopen(const std::function<void(FolderContentOptions&)>& change) {
    FolderContentOptions options = PlatformFolderContentOptions();
    const std::string drive = dir_.Folder();
    options.drives = [drive] { return std::vector<std::string>{drive}; };
    options.mediaFolders = nullptr;
    options.streams = &streams_;
    change(options);
    content_.emplace(std::move(options));
  }

  BrowseResult Browse(const std::string& id, bool metadata, std::uint32_t start = 0,
                      std::uint32_t count = 0, const std::string& sortCriteria = "") {
    BrowseRequest request;
    request.objectId = id;
    request.metadata = metadata;
    request.start = start;
    request.count = count;
    request.sortBy = ParseSortCriteria(sortCriteria);
    return content_->Browse(request, kBase);
  }
  // The titles of a folder's children, all pages of pageSize read in turn.
  std::vector<std::string> Titles(const std::string& id, const std::string& sortCriteria,
                                  std::uint32_t pageSize) {
    std::vector<std::string> titles;
    for (std::uint32_t start = 0;; start += pageSize) {
      const BrowseResult r = Browse(id, false, start, pageSize, sortCriteria);
      for (const XmlNode& o : Objects(r.didl)) titles.push_back(o.ChildText("dc:title"));
      if (r.returned == 0 || start + r.returned >= r.total) break;
    }
    return titles;
  }
  std::string IdOf(const std::string& path) const { return ObjectIdOfPath(path); }
  // The drive's title as the root shows it: its path without the separator.
  std::string TitleOfDrive() const { return dir_.Native(); }
  // relative: "/" separated.
  std::string FolderId(std::string relative) const {
    std::replace(relative.begin(), relative.end(), '/', fs::kSeparator);
    return IdOf(relative.empty() ? dir_.Folder() : dir_.Path(relative) + fs::kSeparator);
  }

  static constexpr std::uint32_t kBound = 4;
  // A player whose row asks for a BOM before UTF-8 subtitles.
  static constexpr const char* kBomWanted = "User-Agent: DLNADOC/1.50 SEC_HHP_[TV] Samsung/1.0";
  tovi::testing::TempDir dir_;
  std::optional<FolderContent> content_;
  PathRules rules_;
  tovi::testing::FakeMediaHost streams_{"192.0.2.7"};  // counts the streams
};

// Names XML must escape and names in Cyrillic; "<>\"" only where the file system allows them.
const std::string kOddFolder = std::string("\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0 & 'x'") +  // Папка
                               (kPosix ? " <b> \"q\"" : "");
const std::string kOddFilm = std::string("\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC & 'x'") +  // Фильм
                             (kPosix ? " <1> \"q\" &amp;" : "") + ".avi";

TEST_F(FolderContentTest, ListsFoldersThenMediaFilesWithTitlesTypesAndSubtitles) {
  dir_.MakeFolder(kOddFolder);
  dir_.Write("B/inner.mp4", "inner");
  dir_.Write("film.mkv", "film bytes");
  dir_.Write("film.srt", "1\n00:00:01,000 --> 00:00:02,000\nhi\n");
  dir_.Write(kOddFilm, "odd");
  dir_.Write("song.MP3", "song");
  dir_.Write("pic.jpg", "jpeg");
  dir_.Write("notes.txt", "not shown");
  dir_.Write("lonely.srt", "not shown either");

  // The root holds the drive.
  BrowseResult root = Browse(kRootId, false);
  EXPECT_EQ(root.returned, 1u);
  EXPECT_EQ(root.total, 1u);
  std::vector<XmlNode> objects = Objects(root.didl);
  ASSERT_EQ(objects.size(), 1u);
  EXPECT_EQ(objects[0].name, "container");
  EXPECT_EQ(objects[0].attributes.at("id"), FolderId(""));
  EXPECT_EQ(objects[0].attributes.at("parentID"), "0");
  EXPECT_EQ(objects[0].ChildText("upnp:class"), "object.container.storageFolder");

  const std::string folderId = FolderId("");
  const BrowseResult first = Browse(folderId, false, 0, 100);
  const BrowseResult second = Browse(folderId, false, kBound, 100);
  EXPECT_EQ(first.total, 6u);  // two folders, four media files
  EXPECT_EQ(first.returned, kBound);
  EXPECT_EQ(second.total, 6u);
  EXPECT_EQ(second.returned, 2u);
  objects = Objects(first.didl);
  const std::vector<XmlNode> rest = Objects(second.didl);
  objects.insert(objects.end(), rest.begin(), rest.end());

  // Folders first, each group in natural order (Latin before Cyrillic).
  const std::vector<std::string> expected = {
      dir_.Path("B") + fs::kSeparator, dir_.Path(kOddFolder) + fs::kSeparator,
      dir_.Path("film.mkv"), dir_.Path("pic.jpg"), dir_.Path("song.MP3"), dir_.Path(kOddFilm)};
  ASSERT_EQ(objects.size(), expected.size()) << first.didl << second.didl;

  struct Want { std::string upnpClass, mime, subtitle; };
  const std::map<std::string, Want> wanted{
      {kOddFolder, {kFolderClass, "", ""}},
      {"B", {kFolderClass, "", ""}},
      {"film.mkv", {kVideoClass, "video/x-matroska", "film.srt"}},
      {kOddFilm, {kVideoClass, "video/x-msvideo", ""}},
      {"song.MP3", {kAudioClass, "audio/mpeg", ""}},
      {"pic.jpg", {kImageClass, "image/jpeg", ""}},
  };
  for (std::size_t i = 0; i < objects.size(); ++i) {
    const XmlNode& o = objects[i];
    const std::string& path = expected[i];
    const std::string title = o.ChildText("dc:title");
    SCOPED_TRACE(title);
    EXPECT_EQ(o.attributes.at("id"), IdOf(path));
    EXPECT_EQ(o.attributes.at("parentID"), folderId);
    EXPECT_EQ(o.attributes.at("restricted"), "1");
    ASSERT_TRUE(wanted.count(title));
    const Want& w = wanted.at(title);
    EXPECT_EQ(o.ChildText("upnp:class"), w.upnpClass);
    if (o.name == "container") {
      EXPECT_EQ(path, dir_.Path(title) + fs::kSeparator);
      continue;
    }
    EXPECT_EQ(path, dir_.Path(title));
    std::vector<const XmlNode*> res;
    for (const XmlNode& c : o.children) if (c.name == "res") res.push_back(&c);
    ASSERT_EQ(res.size(), w.subtitle.empty() ? 1u : 2u);
    EXPECT_EQ(res[0]->attributes.at("size"), std::to_string(fs::FileSize(path)));
    EXPECT_EQ(res[0]->attributes.at("protocolInfo"), ProtocolInfo(*MediaTypeOfName(path)));
    EXPECT_EQ(res[0]->text, kBase + "/?dlna/res/" + IdOf(path) + "." + ExtensionOf(path));
    if (w.subtitle.empty()) {
      EXPECT_EQ(o.Child("sec:CaptionInfoEx"), nullptr);
      continue;
    }
    const std::string srtUrl = kBase + "/?dlna/res/" + IdOf(dir_.Path(w.subtitle)) + ".srt";
    EXPECT_EQ(res[1]->attributes.at("protocolInfo"), "http-get:*:text/srt:*");
    EXPECT_EQ(res[1]->text, srtUrl);
    ASSERT_NE(o.Child("sec:CaptionInfoEx"), nullptr);
    EXPECT_EQ(o.Child("sec:CaptionInfoEx")->attributes.at("sec:type"), "srt");
    EXPECT_EQ(o.ChildText("sec:CaptionInfoEx"), srtUrl);
  }
}

TEST_F(FolderContentTest, NamesXmlCannotCarryBecomeReplacementCharacters) {
  if (!kPosix) GTEST_SKIP() << "Windows names hold neither control characters nor non-UTF-8 bytes";
  dir_.Write("bell\x07tab\tend.mkv", "a");
  dir_.Write("latin1 \xE9t\xE9.mkv", "b");
  std::vector<std::string> titles;
  for (const XmlNode& o : Objects(Browse(FolderId(""), false).didl)) titles.push_back(o.ChildText("dc:title"));
  std::sort(titles.begin(), titles.end());
  EXPECT_EQ(titles, (std::vector<std::string>{"bell\xEF\xBF\xBDtab\tend.mkv",
                                               "latin1 \xEF\xBF\xBDt\xEF\xBF\xBD.mkv"}));
}

TEST_F(FolderContentTest, PagesByStartAndCountWithinTheBound) {
  for (int i = 0; i < 7; ++i) dir_.Write("f" + std::to_string(i) + ".mp4", "x");
  dir_.Write("skip.txt", "x");
  struct Case { std::uint32_t start, count, returned; };
  const Case cases[] = {
      {0, 0, kBound},   // "all" is the bound
      {0, 2, 2},
      {0, 100, kBound},
      {3, 0, kBound},
      {5, 10, 2},
      {6, 1, 1},
      {7, 1, 0},
      {4000000000u, 5, 0},
  };
  const std::string id = FolderId("");
  for (const Case& c : cases) {
    const BrowseResult r = Browse(id, false, c.start, c.count);
    SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.count));
    EXPECT_EQ(r.total, 7u);
    EXPECT_EQ(r.returned, c.returned);
    EXPECT_EQ(Objects(r.didl).size(), c.returned);
  }
  // Objects whose ids would take more than the answer's bytes: one at a time, the next page on
  // from there.
  Reopen([](FolderContentOptions& o) { o.maxAnswerBytes = 1; });
  const BrowseResult first = Browse(id, false, 0, 0), second = Browse(id, false, 1, 0);
  EXPECT_EQ(first.returned, 1u);
  EXPECT_EQ(first.total, 7u);
  ASSERT_EQ(Objects(second.didl).size(), 1u);
  EXPECT_EQ(Objects(second.didl)[0].ChildText("dc:title"), "f1.mp4");
  // Each subtitle beside a video carries a URL as long as the video's: the answer ends at its
  // bytes, not at what its ids led it to expect.
  const std::string deep(150, 'd');
  for (int i = 0; i < 3; ++i) {
    const std::string stem = deep + "/v" + std::to_string(i);
    dir_.Write(stem + ".mkv", "x");
    for (const char* kind : {".srt", ".en.srt", ".de.srt", ".fr.srt", ".ass", ".ssa", ".vtt"}) {
      dir_.Write(stem + kind, "x");
    }
  }
  BrowseRequest request;
  request.objectId = FolderId(deep);
  request.player = &PlayerOf("Kodi", "", "");  // a res for each subtitle
  const std::size_t bound = 3 * (3 * request.objectId.size() + 1024);  // three, by the ids alone
  Reopen([bound](FolderContentOptions& o) { o.maxAnswerBytes = bound; });
  const BrowseResult subtitled = content_->Browse(request, kBase);
  EXPECT_EQ(subtitled.total, 3u);
  EXPECT_EQ(subtitled.returned, 2u);
  EXPECT_EQ(Objects(subtitled.didl).size(), 2u);
  // Few objects of a deep folder can still be a large answer by their bytes: without a turn,
  // what the bytes of an answer without one hold.
  Reopen([bound](FolderContentOptions& o) {
    o.largeAnswerBytes = bound / 2;
    o.largeAnswersAtOnce = 0;
    o.largeAnswerWaitMs = 0;
  });
  EXPECT_LT(content_->Browse(request, kBase).returned, 3u);
}

void SetAge(const std::string& path, int minutes) {
  tovi::testing::SetModifiedMinutesAgo(path, minutes);
}

TEST_F(FolderContentTest, OrdersFoldersFirstNaturallyOrAsSortCriteriaAsk) {
  const std::string s1 = "\xD1\x81\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 1.mkv";   // серия 1
  const std::string s2 = "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 2.mkv";   // Серия 2
  const std::string s10 = "\xD0\xA1\xD0\xB5\xD1\x80\xD0\xB8\xD1\x8F 10.mkv";  // Серия 10
  const std::pair<std::string, int> files[] = {
      {s10, 50}, {"b.mp4", 40}, {s1, 30}, {"A.mp4", 20}, {s2, 40}};
  for (const auto& [name, age] : files) SetAge(dir_.Write(name, "x"), age);
  const std::pair<std::string, int> folders[] = {{"Season 10", 5}, {"season 2", 7}, {"Extras", 6}};
  for (const auto& [name, age] : folders) SetAge(dir_.MakeFolder(name), age);

  struct Case { std::string criteria; std::vector<std::string> titles; };
  const Case cases[] = {
      {"", {"Extras", "season 2", "Season 10", "A.mp4", "b.mp4", s1, s2, s10}},
      {"+dc:title", {"Extras", "season 2", "Season 10", "A.mp4", "b.mp4", s1, s2, s10}},
      {"-dc:title", {"Season 10", "season 2", "Extras", s10, s2, s1, "b.mp4", "A.mp4"}},
      {"+dc:date", {"season 2", "Extras", "Season 10", s10, "b.mp4", s2, s1, "A.mp4"}},
      // Equal dates fall back to the title, then the next key.
      {"-dc:date,-dc:title", {"Season 10", "Extras", "season 2", "A.mp4", s1, s2, "b.mp4", s10}},
  };
  const std::string id = FolderId("");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.criteria);
    EXPECT_EQ(Titles(id, c.criteria, 3), c.titles);   // pages of three
    EXPECT_EQ(Titles(id, c.criteria, kBound), c.titles);
  }
  try {
    Browse(id, false, 0, 0, "+res@size");
    ADD_FAILURE() << "an unsupported criterion was taken";
  } catch (const UpnpError& e) {
    EXPECT_EQ(e.Code(), 709);
  }
}

TEST_F(FolderContentTest, DatesAFileOfAYearPast2262AsItIs) {
  // A count of nanoseconds since 1970 ends in 2262; a bad clock can date a file any year.
  tovi::testing::SetModifiedAt(dir_.Write("later.mp4", "x"), 10426881600);  // 2300-06-01 12:00
  tovi::testing::SetModifiedAt(dir_.Write("earlier.mp4", "x"), 1700000000);
  const std::string id = FolderId("");
  EXPECT_EQ(Titles(id, "-dc:date", kBound), (std::vector<std::string>{"later.mp4", "earlier.mp4"}));
  std::map<std::string, std::string> dates;
  for (const XmlNode& o : Objects(Browse(id, false).didl)) {
    dates[o.ChildText("dc:title")] = o.ChildText("dc:date");
  }
  EXPECT_EQ(dates["later.mp4"], "2300-06-01T12:00:00");
  EXPECT_EQ(dates["earlier.mp4"], "2023-11-14T22:13:20");
}

TEST_F(FolderContentTest, AnswersAllAtOnceUpToTheBoundForClientsThatNeverPage) {
  for (int i = 0; i < 700; ++i) dir_.Write("seven/f" + std::to_string(i) + ".mp3", "");
  for (int i = 0; i < 6000; ++i) dir_.Write("many/f" + std::to_string(i) + ".mp3", "");
  Reopen([](FolderContentOptions&) {});
  struct Case { std::string folder; std::uint32_t start, count, returned, total; };
  const Case cases[] = {
      {"seven", 0, 0, 700, 700},      // "all"
      {"seven", 0, 6000, 700, 700},
      {"seven", 0, 10, 10, 700},      // a page asked for stays one
      {"many", 0, 0, 5000, 6000},     // the bound
      {"many", 0, 6000, 5000, 6000},
      {"many", 5500, 0, 500, 6000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + " " + std::to_string(c.start) + "+" + std::to_string(c.count));
    const BrowseResult r = Browse(FolderId(c.folder), false, c.start, c.count);
    EXPECT_EQ(r.returned, c.returned);
    EXPECT_EQ(r.total, c.total);
    EXPECT_EQ(Objects(r.didl).size(), c.returned);
  }
  // No turn for another large answer: a smaller page, the total still exact.
  Reopen([](FolderContentOptions& o) {
    o.largeAnswersAtOnce = 0;
    o.largeAnswerWaitMs = 0;
  });
  const BrowseResult r = Browse(FolderId("seven"), false, 0, 0);
  EXPECT_EQ(r.returned, FolderContentOptions().largeAnswerObjects);
  EXPECT_EQ(r.total, 700u);
  // A large answer keeps its turn until it has been sent (a reader may take nothing for long).
  Reopen([](FolderContentOptions& o) {
    o.largeAnswersAtOnce = 1;
    o.largeAnswerWaitMs = 0;
  });
  BrowseResult unsent = Browse(FolderId("seven"), false, 0, 0);
  EXPECT_EQ(unsent.returned, 700u);
  EXPECT_EQ(Browse(FolderId("seven"), false, 0, 0).returned, r.returned);
  unsent.keepWhileSent.reset();
  EXPECT_EQ(Browse(FolderId("seven"), false, 0, 0).returned, 700u);
  // One device's unread answers take its own share of the turns, not the other devices'.
  Reopen([](FolderContentOptions& o) { o.largeAnswerWaitMs = 0; });
  BrowseRequest tv;
  tv.objectId = FolderId("seven");
  tv.peer = "192.168.1.8";
  const BrowseResult first = content_->Browse(tv, kBase), second = content_->Browse(tv, kBase);
  EXPECT_EQ(second.returned, 700u);
  EXPECT_EQ(content_->Browse(tv, kBase).returned, r.returned);
  tv.peer = "192.168.1.9";
  EXPECT_EQ(content_->Browse(tv, kBase).returned, 700u);
}

TEST_F(FolderContentTest, RootOffersTheUsersMediaFoldersFirstWithTheirPathsIds) {
  const std::string film = dir_.Write("Users/me/Videos/film.mkv", "x");
  const std::string videos = dir_.MakeFolder("Users/me/Videos") + fs::kSeparator;
  const std::string music = dir_.MakeFolder("Users/me/Music") + fs::kSeparator;
  tovi::testing::TempDir elsewhere;  // outside the drive: not offered
  const std::string video = "\xD0\x92\xD0\xB8\xD0\xB4\xD0\xB5\xD0\xBE";  // Видео
  Reopen([&](FolderContentOptions& o) {
    o.mediaFolders = [&] {
      return std::vector<fs::MediaFolder>{
          {videos, video}, {elsewhere.Folder(), "Elsewhere"}, {music, "Music"}};
    };
  });
  const BrowseResult root = Browse(kRootId, false);
  EXPECT_EQ(root.total, 3u);
  const std::vector<XmlNode> objects = Objects(root.didl);
  ASSERT_EQ(objects.size(), 3u);
  const std::pair<std::string, std::string> expected[] = {
      {FolderId("Users/me/Videos"), video}, {FolderId("Users/me/Music"), "Music"},
      {FolderId(""), TitleOfDrive()}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(objects[i].attributes.at("id"), expected[i].first);
    EXPECT_EQ(objects[i].attributes.at("parentID"), kRootId);
    EXPECT_EQ(objects[i].ChildText("dc:title"), expected[i].second);
  }
  EXPECT_EQ(Objects(Browse(kRootId, true).didl).at(0).attributes.at("childCount"), "3");
  // Its film has one id and one parent, whichever way it was reached.
  const std::vector<XmlNode> inVideos = Objects(Browse(FolderId("Users/me/Videos"), false).didl);
  ASSERT_EQ(inVideos.size(), 1u);
  EXPECT_EQ(inVideos[0].attributes.at("id"), IdOf(film));
  EXPECT_EQ(inVideos[0].attributes.at("parentID"), FolderId("Users/me/Videos"));
  const std::vector<XmlNode> inMe = Objects(Browse(FolderId("Users/me"), false).didl);
  ASSERT_EQ(inMe.size(), 2u);
  EXPECT_EQ(inMe[1].attributes.at("id"), FolderId("Users/me/Videos"));
  EXPECT_EQ(Objects(Browse(FolderId("Users/me/Videos"), true).didl).at(0).attributes.at("parentID"),
            FolderId("Users/me"));
}

// The element of the object with that id in a DIDL document, as written.
std::string ElementOf(const std::string& didl, const std::string& id) {
  const std::size_t start = didl.find("<item id=\"" + id + "\"");
  if (start == std::string::npos) return "<none>";
  return didl.substr(start, didl.find("</item>", start) + 7 - start);
}

TEST_F(FolderContentTest, SearchFindsASubtreesObjectsOfAClassInKeptPagesWithinItsBounds) {
  const std::string film = dir_.Write("Users/me/Videos/b film.mkv", "film");
  dir_.Write("Users/me/Videos/b film.srt", "1\n00:00:01,000 --> 00:00:02,000\nhi\n");
  dir_.Write("Users/me/Videos/Old/a film.avi", "x");
  dir_.Write("Users/me/Music/song.mp3", "x");
  dir_.Write("Downloads/c clip.avi", "x");
  dir_.Write("Downloads/notes.txt", "x");
  const std::string videos = dir_.MakeFolder("Users/me/Videos") + fs::kSeparator;
  const std::string music = dir_.MakeFolder("Users/me/Music") + fs::kSeparator;
  Reopen([&](FolderContentOptions& o) {
    o.maxBrowseCount = kBound;
    o.mediaFolders = [&] {
      return std::vector<fs::MediaFolder>{{videos, "Videos"}, {music, "Music"}};
    };
  });
  const auto search = [&](const std::string& id, const std::string& criteria,
                          std::uint32_t start = 0, std::uint32_t count = 0,
                          const std::string& sort = "") {
    SearchRequest request;
    request.objectId = id;
    request.criteria = criteria;
    request.start = start;
    request.count = count;
    request.sortBy = ParseSortCriteria(sort);
    request.player = &PlayerOf("DLNADOC/1.50 SEC_HHP_[TV] Samsung/1.0", "", "");
    return content_->Search(request, kBase);
  };
  const auto titles = [](const BrowseResult& r) {
    std::vector<std::string> out;
    for (const XmlNode& o : Objects(r.didl)) out.push_back(o.ChildText("dc:title"));
    return out;
  };
  const std::string wmp =
      "upnp:class derivedfrom \"object.item.videoItem\" and @refID exists false";
  // From the root, the media folders first, each folder walked once.
  const BrowseResult all = search(kRootId, wmp);
  EXPECT_EQ(all.total, 3u);
  EXPECT_EQ(titles(all), (std::vector<std::string>{"b film.mkv", "a film.avi", "c clip.avi"}));
  // Pages of one order, the later ones from the walk kept: a film added meanwhile comes later.
  const BrowseResult first = search(kRootId, wmp, 0, 2, "+dc:title");
  dir_.Write("Users/me/Videos/0 new.mkv", "x");
  const BrowseResult second = search(kRootId, wmp, 2, 2, "+dc:title");
  EXPECT_EQ(first.total, 3u);
  EXPECT_EQ(second.total, 3u);
  EXPECT_EQ(titles(first), (std::vector<std::string>{"a film.avi", "b film.mkv"}));
  EXPECT_EQ(titles(second), (std::vector<std::string>{"c clip.avi"}));
  // An item as Browse writes it for the same player: subtitles, facts and all.
  BrowseRequest browse;
  browse.objectId = IdOf(videos);
  browse.player = &PlayerOf("DLNADOC/1.50 SEC_HHP_[TV] Samsung/1.0", "", "");
  const std::string browsed = ElementOf(content_->Browse(browse, kBase).didl, IdOf(film));
  EXPECT_NE(browsed.find("CaptionInfo"), std::string::npos) << browsed;
  EXPECT_EQ(ElementOf(search(kRootId, wmp).didl, IdOf(film)), browsed);
  // Folders when the criteria name them, with their parents.
  const std::vector<XmlNode> folders =
      Objects(search(IdOf(videos), "upnp:class derivedfrom \"object.container\"").didl);
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(folders[0].ChildText("dc:title"), "Old");
  EXPECT_EQ(folders[0].attributes.at("parentID"), IdOf(videos));
  // The walk's bound reached: what was found by then.
  Reopen([&](FolderContentOptions& o) { o.search.maxFolders = 1; });
  EXPECT_EQ(titles(search(IdOf(videos), wmp)),
            (std::vector<std::string>{"0 new.mkv", "b film.mkv"}));
  for (const std::string& id : {std::string("nothing"), IdOf(film), FolderId("gone")}) {
    try {
      search(id, wmp);
      ADD_FAILURE() << id;
    } catch (const UpnpError& e) {
      EXPECT_EQ(e.Code(), 710) << id;
    }
  }
  try {
    search(kRootId, "upnp:class derivedfrom object.item");
    ADD_FAILURE() << "unparsed criteria searched";
  } catch (const UpnpError& e) {
    EXPECT_EQ(e.Code(), 708);
  }
}

TEST_F(FolderContentTest, MetadataOfRootFolderAndItemNamesItsParent) {
  dir_.Write("Sub/a.mp4", "12345");
  dir_.Write("Sub/a.srt", "s");
  dir_.Write("Sub/b.txt", "s");
  dir_.MakeFolder("Sub/Deeper");
  const std::string sub = dir_.Path("Sub") + fs::kSeparator;
  struct Case { std::string id, name, parentId, title, childCount; };
  const Case cases[] = {
      {kRootId, "container", "-1", "Remote Toviplayer", "1"},
      {FolderId(""), "container", kRootId, "", "1"},
      {FolderId("Sub"), "container", FolderId(""), "Sub", "2"},
      {IdOf(sub + "a.mp4"), "item", FolderId("Sub"), "a.mp4", ""},
  };
  for (const Case& c : cases) {
    const BrowseResult r = Browse(c.id, true);
    EXPECT_EQ(r.returned, 1u);
    EXPECT_EQ(r.total, 1u);
    const std::vector<XmlNode> objects = Objects(r.didl);
    ASSERT_EQ(objects.size(), 1u) << c.title;
    const XmlNode& o = objects[0];
    EXPECT_EQ(o.name, c.name) << c.title;
    EXPECT_EQ(o.attributes.at("id"), c.id) << c.title;
    EXPECT_EQ(o.attributes.at("parentID"), c.parentId) << c.title;
    if (!c.title.empty()) {
      EXPECT_EQ(o.ChildText("dc:title"), c.title);
    }
    EXPECT_EQ(o.attributes.count("childCount") ? o.attributes.at("childCount") : "", c.childCount)
        << c.title;
    if (c.name == "item") {
      EXPECT_EQ(o.Child("res")->attributes.at("size"), "5");
      EXPECT_NE(o.Child("sec:CaptionInfoEx"), nullptr);
    }
  }
}

TEST_F(FolderContentTest, UnknownOrUnsafeIdsAreNoSuchObject) {
  dir_.Write("a.mp4", "x");
  dir_.Write("notes.txt", "x");
  const std::string outside = kPosix ? "/etc/" : "C:\\Windows\\";
  const std::string ids[] = {
      "",
      "not an id",
      IdOf(dir_.Path("gone.mp4")),
      IdOf(dir_.Path("gone") + fs::kSeparator),
      IdOf(dir_.Path("a.mp4") + fs::kSeparator),   // a file named as a folder
      IdOf(dir_.Path("notes.txt")),                 // there, but no media file
      IdOf(outside),                                // not a listed drive
      IdOf(dir_.Folder() + ".." + fs::kSeparator),  // out of it
      IdOf(dir_.Folder() + "a.mp4" + std::string(1, '\0')),
  };
  for (const std::string& id : ids) {
    for (const bool metadata : {true, false}) {
      try {
        Browse(id, metadata);
        ADD_FAILURE() << "no error for " << id << (metadata ? " (metadata)" : " (children)");
      } catch (const UpnpError& e) {
        EXPECT_EQ(e.Code(), 701) << id;
        EXPECT_STREQ(e.what(), "No such object") << id;
      }
    }
  }
}

// Resource URLs through a real engine, routed as the program routes them.
class FolderContentStreaming : public FolderContentTest {
 protected:
  void SetUp() override {
    server_ = server::CreateMediaServer(
        "127.0.0.1", 0,
        [this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq, http::TNetHTTPResponseInfo& rs) {
          if (IsDlnaRequest(rq.RequestPath(), rq.QueryText())) {
            content_->StreamResource(t.Connection(), rq, rs, PlayerOf(rq.HeaderLines()));
          } else {
            app_.Handle(t.Connection(), rq, rs);
          }
        });
    server_->SetActive(true);
    port_ = static_cast<std::uint16_t>(server_->Bindings()[0].Port());
  }
  void TearDown() override { server_->SetActive(false); }

  std::string Target(const std::string& path, const std::string& extension) const {
    return "/?dlna/res/" + IdOf(path) + "." + extension;
  }

  tovi::testing::FakeMediaHost window_{"192.0.2.7"};
  server::MediaRequestHandler app_{window_};  // the app's own file URLs
  std::shared_ptr<http::TNetHTTPServer> server_;
  std::uint16_t port_ = 0;
};

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

TEST_F(FolderContentStreaming, StreamsRangesWithTheItemsTypeAndDlnaHeadersWhenAsked) {
  const std::string bytes = Pattern(5000);
  const std::string film = dir_.Write("film.mkv", bytes);
  const std::string srt = dir_.Write("film.srt", "subtitle");
  const std::string pic = dir_.Write("pic.JPG", "jpeg");
  const std::string song = dir_.Write("song.mp3", "mp3");
  // A JPEG's frame header of 641x479: the header names the profile its res names.
  const std::string frame("\xFF\xD8\xFF\xC0\x00\x11\x08\x01\xDF\x02\x81", 11);
  const std::string photo = dir_.Write("photo.jpg", frame + std::string(12, '\0'));
  const std::string features = "getcontentFeatures.dlna.org: 1\r\n";
  const std::string caption = "getCaptionInfo.sec: 1\r\n";
  const std::string srtUrl = "http://127.0.0.1" + Target(srt, "srt");
  const std::string videoFeatures = DlnaFeatures(*MediaTypeOfName("a.mkv"));
  struct Case {
    std::string method, target, headers;
    int status;
    std::string body, contentType, contentRange, contentFeatures, transferMode, captionInfo;
  };
  const Case cases[] = {
      {"GET", Target(film, "mkv"), "Range: bytes=1000-1999\r\n", 206, bytes.substr(1000, 1000),
       "video/x-matroska", "bytes 1000-1999/5000", "", "Streaming", ""},
      {"GET", Target(film, "MKV"), "", 200, bytes, "video/x-matroska", "", "", "Streaming", ""},
      {"GET", Target(film, "mkv"), "Range: bytes=-10\r\n" + features + caption, 206,
       bytes.substr(4990), "video/x-matroska", "bytes 4990-4999/5000", videoFeatures, "Streaming",
       srtUrl},
      {"HEAD", Target(film, "mkv"), "Range: bytes=0-99\r\n" + features, 206, "",
       "video/x-matroska", "bytes 0-99/5000", videoFeatures, "Streaming", ""},
      {"GET", Target(film, "mkv"), "Range: bytes=5000-\r\n", 416, "", "video/x-matroska",
       "bytes */5000", "", "Streaming", ""},
      {"GET", Target(film, "mkv"), "transferMode.dlna.org: Background\r\n", 200, bytes,
       "video/x-matroska", "", "", "Background", ""},
      {"GET", Target(pic, "jpg"), features + caption, 200, "jpeg", "image/jpeg", "",
       DlnaFeatures(*MediaTypeOfName("a.jpg")), "Interactive", ""},
      {"HEAD", Target(photo, "jpg"), features, 200, "", "image/jpeg", "",
       DlnaFeatures(*MediaTypeOfName("a.jpg"), "JPEG_MED"), "Interactive", ""},
      {"GET", Target(song, "mp3"), features, 200, "mp3", "audio/mpeg", "",
       "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000",
       "Streaming", ""},
      {"GET", Target(srt, "srt"), "", 200, "subtitle", "text/srt", "", "", "Interactive", ""},
  };
  int bodies = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.headers);
    const auto r = testing::Get(port_, c.target, c.headers, c.method);
    ASSERT_TRUE(r.connected);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body, c.body);
    EXPECT_EQ(r.Header("Content-Type"), c.contentType);
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes");
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange);
    EXPECT_EQ(r.Header("contentFeatures.dlna.org"), c.contentFeatures);
    EXPECT_EQ(r.Header("transferMode.dlna.org"), c.transferMode);
    EXPECT_EQ(r.Header("CaptionInfo.sec"), c.captionInfo);
    if (!c.body.empty()) ++bodies;
  }
  // The PC is kept awake for each body sent, as for the app's files.
  EXPECT_TRUE(testing::WaitUntil([&] { return streams_.streamsEnded == bodies; }, 5000));
  EXPECT_EQ(streams_.streamsStarted, bodies);

  // A HEAD's head is the GET's.
  const auto get = testing::Get(port_, Target(film, "mkv"), "Range: bytes=100-199\r\n" + features);
  const auto head =
      testing::Get(port_, Target(film, "mkv"), "Range: bytes=100-199\r\n" + features, "HEAD");
  EXPECT_EQ(get.head, head.head);
  EXPECT_EQ(head.bodyBytes, 0u);
}

TEST_F(FolderContentStreaming, RefusesASeekByTimeOrASpeedUnlessABytesRangeComesWithIt) {
  const std::string bytes = Pattern(5000);
  const std::string film = dir_.Write("film.mkv", bytes);
  for (const std::string asked :
       {"TimeSeekRange.dlna.org: npt=10.0-\r\n", "PlaySpeed.dlna.org: speed=2\r\n"}) {
    SCOPED_TRACE(asked);
    EXPECT_EQ(testing::Get(port_, Target(film, "mkv"), asked).status, 406);
    EXPECT_EQ(testing::Get(port_, Target(film, "mkv"), asked, "HEAD").status, 406);
    const auto ranged = testing::Get(port_, Target(film, "mkv"), asked + "Range: bytes=10-19\r\n");
    EXPECT_EQ(ranged.status, 206);
    EXPECT_EQ(ranged.body, bytes.substr(10, 10));
  }
  for (const std::string asked :
       {"TimeSeekRange.dlna.org: npt=0.000-\r\n", "PlaySpeed.dlna.org: speed=1\r\n"}) {
    SCOPED_TRACE(asked);
    EXPECT_EQ(testing::Get(port_, Target(film, "mkv"), asked).body, bytes);
  }
}

TEST_F(FolderContentStreaming, AnswersNotFoundForResourcesThatNameNoShownFile) {
  const std::string film = dir_.Write("film.mkv", "film");
  const std::string notes = dir_.Write("notes.txt", "notes");
  const std::string targets[] = {
      Target(film, "mp4"),                              // another extension
      Target(film, ""),
      "/?dlna/res/" + IdOf(film),                       // none
      Target(dir_.Path("gone.mkv"), "mkv"),
      Target(notes, "txt"),                             // no media file
      Target(dir_.Folder(), "mkv"),                     // a folder
      Target(dir_.Folder() + ".." + fs::kSeparator + "x.mkv", "mkv"),
      "/?dlna/res/0.mkv",
      "/?dlna/res/",
      "/?dlna/res/%2E%2E.mkv",
  };
  for (const std::string& target : targets) {
    const auto r = testing::Get(port_, target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.body, "Not Found") << target;
  }
}

// A Russian subtitle as most are written, in Windows-1251: offered beside its film, served to
// players as UTF-8 (length, HEAD and ranges those of the UTF-8 text); the app's own file URL
// still gives the file's bytes. The PC's 8-bit code page here is Windows-1251: a Russian
// Windows, or a POSIX locale that names no 8-bit charset.
TEST_F(FolderContentStreaming, ServesAWindows1251SubtitleAsUtf8AndTheAppItsBytes) {
  const std::string cues = "1\r\n00:00:01,000 --> 00:00:04,000\r\n";
  const std::string cp1251 = cues + "\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 & <\xF1\xF3\xE1\xF2\xE8\xF2\xF0\xFB>\r\n";
  const std::string utf8 = cues + "Проверка & <субтитры>\r\n";
  const std::string film = dir_.Write("Фильм.mkv", "film");
  const std::string srt = dir_.Write("Фильм.srt", cp1251);
  const std::string huge(kMaxConvertedSubtitleBytes + 1, '\xE0');
  const std::string hugeSrt = dir_.Write("huge.srt", huge);
  const std::string srtUrl = "http://127.0.0.1" + Target(srt, "srt");

  const std::vector<XmlNode> objects = Objects(Browse(FolderId(""), false).didl);
  ASSERT_EQ(objects.size(), 1u);
  ASSERT_NE(objects[0].Child("sec:CaptionInfoEx"), nullptr);
  EXPECT_EQ(objects[0].ChildText("sec:CaptionInfoEx"), kBase + Target(srt, "srt"));

  const std::string size = std::to_string(utf8.size());
  const std::string last = std::to_string(utf8.size() - 1);
  const std::string bom = std::string(kUtf8Bom);
  struct Case {
    std::string method, target, headers;
    int status;
    std::string body, contentLength, contentRange;
  };
  const Case cases[] = {
      {"GET", Target(srt, "srt"), "", 200, utf8, size, ""},
      {"HEAD", Target(srt, "SRT"), "", 200, "", size, ""},
      {"GET", Target(srt, "srt"), "Range: bytes=35-52\r\n", 206, utf8.substr(35, 18), "18",
       "bytes 35-52/" + size},
      {"HEAD", Target(srt, "srt"), "Range: bytes=-10\r\n", 206, "", "10",
       "bytes " + std::to_string(utf8.size() - 10) + "-" + last + "/" + size},
      {"GET", Target(srt, "srt"), std::string(kBomWanted) + "\r\n", 200, bom + utf8,
       std::to_string(utf8.size() + 3), ""},
      {"GET", Target(srt, "srt"), "Range: bytes=" + size + "-\r\n", 416, "", "0",
       "bytes */" + size},
      {"GET", Target(hugeSrt, "srt"), "Range: bytes=0-3\r\n", 206, huge.substr(0, 4), "4",
       "bytes 0-3/" + std::to_string(huge.size())},
      {"GET", testing::FileUrlPath(srt), "", 200, cp1251, std::to_string(cp1251.size()), ""},
      {"HEAD", testing::FileUrlPath(srt), "", 200, "", std::to_string(cp1251.size()), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.headers);
    const auto r = testing::Get(port_, c.target, c.headers, c.method);
    ASSERT_TRUE(r.connected);
    EXPECT_EQ(r.status, c.status);
    EXPECT_TRUE(r.body == c.body) << r.body;
    EXPECT_EQ(r.Header("Content-Length"), c.contentLength);
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange);
    if (c.target.rfind("/?dlna/", 0) == 0) {
      EXPECT_EQ(r.Header("Content-Type"), "text/srt");
    }
  }

  // Samsung's players ask where the subtitle is on a HEAD as on a GET.
  for (const char* method : {"HEAD", "GET"}) {
    const auto r = testing::Get(port_, Target(film, "mkv"), "getCaptionInfo.sec: 1\r\n", method);
    EXPECT_EQ(r.Header("CaptionInfo.sec"), srtUrl) << method;
  }
}

}  // namespace
}  // namespace tovi::dlna
