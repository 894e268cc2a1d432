// The SearchCriteria players send, against objects as a walk finds them.
#include "dlna/search_criteria.h"

#include <gtest/gtest.h>

#include <string>

#include "dlna/upnp_error.h"

namespace tovi::dlna {
namespace {

TEST(SearchCriteria, PlayersCriteriaMatchAsTheyMeanAndMalformedOnesAre708) {
  SearchFacts film;
  film.upnpClass = "object.item.videoItem";
  film.title = "Say \"Hi\" \\ Night.mkv";
  film.id = "L3YvZmlsbS5ta3Y";
  film.parentId = "L3Yv";
  film.size = 5000;
  film.durationMs = 5400500;  // 1:30:00.500
  film.date = "2020-01-31T20:00:00";
  SearchFacts song = film;
  song.upnpClass = "object.item.audioItem.musicTrack";
  song.title = "Love.mp3";
  song.size = 900;
  song.durationMs = std::nullopt;
  song.date = "2019-05-01T08:00:00";
  SearchFacts folder;
  folder.upnpClass = "object.container.storageFolder";
  folder.title = "Films";
  folder.id = "L3Yv";
  folder.parentId = "0";
  folder.container = true;
  struct Case {
    const char* criteria;
    bool film, song, folder;
  };
  const Case cases[] = {
      // A Windows player's, one class at a time.
      {"upnp:class derivedfrom \"object.item.videoItem\" and @refID exists false", 1, 0, 0},
      {"upnp:class derivedfrom \"object.item.audioItem\" and @refID exists false", 0, 1, 0},
      {"upnp:class derivedfrom \"object.container.playlistContainer\" and @refID exists false", 0,
       0, 0},
      {"*", 1, 1, 1},
      {"", 1, 1, 1},
      {" *\r\n", 1, 1, 1},  // wrapped in the XML's line breaks
      // Phone apps' and media centres' title searches, any letter case of names and operators.
      {"(dc:title contains \"love\" or upnp:artist contains \"love\") and upnp:class derivedfrom "
       "\"object.item.audioItem\"", 0, 1, 0},
      {"(upnp:class derivedFrom \"object.item.videoItem\") AND (dc:title contains \"NIGHT\")", 1,
       0, 0},
      {"upnp:class derivedfrom \"object.item.videoItem.movie\"", 0, 0, 0},
      {"upnp:class derivedfrom \"object.item.video\"", 0, 0, 0},
      {"upnp:class = \"object.container.storageFolder\"", 0, 0, 1},
      {"upnp:class derivedfrom \"object.container\"", 0, 0, 1},
      {"upnp:class derivedfrom \"object.item\" and dc:title doesNotContain \"love\"", 1, 0, 0},
      // A TV's plain one, with line breaks and tabs between the words.
      {"\tupnp:class\r\nderivedfrom \"object.item.videoItem\"\n", 1, 0, 0},
      {"dc:title = \"say \\\"hi\\\" \\\\ night.mkv\"", 1, 0, 0},
      {"dc:title != \"films\"", 1, 1, 0},
      {"dc:title < \"m\"", 0, 1, 1},
      {"@id = \"L3Yv\" or @parentID = \"L3Yv\"", 1, 1, 1},
      {"@id = \"l3yv\"", 0, 0, 0},
      {"res exists true", 1, 1, 0},
      {"res@size > \"1000\"", 1, 0, 0},
      {"res@size <= \"900\"", 0, 1, 0},
      {"res@duration >= \"1:00:00\"", 1, 0, 0},
      {"res@duration < \"01:30:00.6\"", 1, 0, 0},
      {"res@duration exists false", 0, 1, 1},
      // A TV's newest films: by date, which folders here do not carry.
      {"upnp:class derivedfrom \"object.item.videoItem\" and dc:date >= \"2020-01-31\"", 1, 0, 0},
      {"dc:date < \"2020\"", 0, 1, 0},
      {"dc:date exists true", 1, 1, 0},
      // A property nothing here carries matches only its absence.
      {"upnp:artist = \"x\" or upnp:genre contains \"x\"", 0, 0, 0},
      {"upnp:artist exists false and @refID exists false", 1, 1, 1},
      {"@refID exists true", 0, 0, 0},
      // and binds tighter than or.
      {"dc:title = \"films\" or dc:title contains \"love\" and res exists false", 0, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.criteria);
    const SearchCriteria criteria = SearchCriteria::Parse(c.criteria);
    EXPECT_EQ(criteria.Matches(film), c.film);
    EXPECT_EQ(criteria.Matches(song), c.song);
    EXPECT_EQ(criteria.Matches(folder), c.folder);
  }
  // A Russian title as a player's keyboard types it, in either case.
  SearchFacts russian = film;
  russian.title = "Ёжик в тумане.avi";
  EXPECT_TRUE(SearchCriteria::Parse("dc:title contains \"ёжик В ТУМАНЕ\"").Matches(russian));
  EXPECT_FALSE(SearchCriteria::Parse("dc:title contains \"ежик\"").Matches(russian));
  EXPECT_TRUE(SearchCriteria::Parse("res@size < \"1\"").NeedsSize());
  EXPECT_FALSE(SearchCriteria::Parse("dc:title < \"1\"").NeedsSize());
  EXPECT_TRUE(SearchCriteria::Parse("res@duration exists true").NeedsDuration());
  EXPECT_TRUE(SearchCriteria::Parse("dc:date exists true").NeedsDate());

  const std::string deep = std::string(kMaxSearchNesting + 1, '(') + "dc:title = \"a\"" +
                           std::string(kMaxSearchNesting + 1, ')');
  const std::string fine = std::string(kMaxSearchNesting, '(') + "dc:title = \"a\"" +
                           std::string(kMaxSearchNesting, ')');
  EXPECT_NO_THROW(SearchCriteria::Parse(fine));
  std::string many = "dc:title = \"a\"";
  for (int i = 1; i < kMaxSearchTerms; ++i) many += " or dc:title = \"a\"";
  EXPECT_NO_THROW(SearchCriteria::Parse(many));
  const std::string invalid[] = {
      "upnp:class derivedfrom object.item.videoItem",
      "dc:title contains \"night",
      "dc:title like \"night\"",
      "(dc:title = \"a\"",
      "dc:title = \"a\")",
      "dc:title = \"a\" and",
      "and dc:title = \"a\"",
      "dc:title = \"a\" \"b\"",
      "dc:title = \"a\" nor dc:title = \"b\"",
      "@refID exists maybe",
      "@refID exists \"false\"",
      "dc:title = \"a\\q\"",
      "= \"a\"",
      "**",
      deep,
      many + " or dc:title = \"a\"",
      "dc:title = \"" + std::string(kMaxSearchCriteriaBytes, 'a') + "\"",
  };
  for (const std::string& text : invalid) {
    SCOPED_TRACE(text.substr(0, 80));
    try {
      SearchCriteria::Parse(text);
      ADD_FAILURE() << "parsed";
    } catch (const UpnpError& e) {
      EXPECT_EQ(e.Code(), 708);
    }
  }
}

}  // namespace
}  // namespace tovi::dlna
