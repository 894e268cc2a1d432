// Which subtitles a video is offered with, in which order: from a folder's listing and from the
// disk alike.
#include "local/subtitles_beside.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tovi::local {
namespace {

struct Case {
  const char* what;
  std::vector<std::string> files;  // the folder, the video among them
  std::string video, language;
  std::vector<std::string> offered;  // in order
};

void ExpectOffered(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const tovi::testing::TempDir dir;
    std::vector<std::string> listing;
    for (const std::string& name : c.files) listing.push_back(dir.Write(name, "1"));
    SubtitleIndex index(c.language);
    for (const std::string& path : listing) index.Add(path);
    const std::vector<FoundSubtitle> fromListing = index.For(dir.Path(c.video));
    const std::vector<FoundSubtitle> fromDisk = SubtitlesBeside(dir.Path(c.video), c.language);
    for (const auto* found : {&fromListing, &fromDisk}) {
      std::vector<std::string> names;
      for (const FoundSubtitle& s : *found) {
        names.push_back(s.path.substr(dir.Folder().size()));
        EXPECT_EQ(s.type, SubtitleTypeOfName(s.path));
      }
      EXPECT_EQ(names, c.offered) << (found == &fromDisk ? "from the disk" : "from the listing");
    }
  }
}

TEST(Subtitles, TheVideosOwnInThePcsLanguageFirstThenSrtThenTheRestWithinTheBound) {
  const std::vector<Case> cases = {
      {"every kind and tag, cut at the bound",
       {"film.mkv", "film.srt", "film.en.srt", "film.ru.srt", "film.ass", "film.RUS.ASS",
        "film.vtt", "film.forced.srt", "film.sub", "film.idx", "film.de.vtt", "film.txt",
        "other.srt", "film.2010.srt", "film..srt"},
       "film.mkv", "ru",
       {"film.ru.srt", "film.RUS.ASS", "film.srt", "film.ass", "film.vtt", "film.en.srt",
        "film.forced.srt", "film.de.vtt"}},
      {"a lone .sub is text", {"film.mkv", "film.sub"}, "film.mkv", "ru", {"film.sub"}},
      {"a VobSub pair is pictures",
       {"film.mkv", "film.sub", "film.IDX", "film.en.sub", "film.en.idx", "film.srt"},
       "film.mkv", "ru", {"film.srt"}},
      {"a dotted name, tags by code and word", 
       {"Movie.2010.720p.avi", "Movie.2010.720p.srt", "Movie.2010.720p.English.srt",
        "Movie.2010.720p.rus.srt", "Movie.2010.720p.SSA", "Movie.2010.srt"},
       "Movie.2010.720p.avi", "en",
       {"Movie.2010.720p.English.srt", "Movie.2010.720p.srt", "Movie.2010.720p.SSA",
        "Movie.2010.720p.rus.srt"}},
      {"no language known; a name in Cyrillic",
       {"Серия 1.mp4", "Серия 1.рус.srt", "Серия 1.pt-BR.srt", "Серия 1.srt", "Серия 10.srt"},
       "Серия 1.mp4", "",
       {"Серия 1.srt", "Серия 1.pt-BR.srt", "Серия 1.рус.srt"}},
      {"the video's own tag is part of its name",
       {"film.ru.mkv", "film.ru.srt", "film.ru.en.srt"},
       "film.ru.mkv", "ru", {"film.ru.srt", "film.ru.en.srt"}},
      {"a language and a flag, the whole one first",
       {"film.mkv", "film.rus.forced.srt", "film.en.sdh.srt", "film.en.srt", "film.ru.srt",
        "film.2010.forced.srt", "film.cut.en.srt"},
       "film.mkv", "ru", {"film.ru.srt", "film.rus.forced.srt", "film.en.srt", "film.en.sdh.srt"}},
      {"none", {"film.mkv", "film2.srt", "film"}, "film.mkv", "ru", {}},
  };
  ExpectOffered(cases);
}

// Windows takes "Film.MKV" and "film.srt" for names of one stem; POSIX file systems do not.
TEST(Subtitles, ANameDifferingOnlyInLetterCaseIsTheVideosOnWindowsOnly) {
  const bool folds = fs::kSeparator == '\\';
  const auto onWindows = [folds](std::vector<std::string> names) {
    return folds ? names : std::vector<std::string>{};
  };
  ExpectOffered({{"Latin", {"Film.MKV", "film.srt", "FILM.Rus.SRT"}, "Film.MKV", "ru",
        onWindows({"FILM.Rus.SRT", "film.srt"})},
       {"Cyrillic", {"Фильм.mkv", "фильм.srt", "ФИЛЬМ.en.srt"}, "Фильм.mkv", "ru",
        onWindows({"фильм.srt", "ФИЛЬМ.en.srt"})},
       {"a VobSub pair", {"Film.mkv", "film.sub", "FILM.idx"}, "Film.mkv", "ru", {}}});
}

}  // namespace
}  // namespace tovi::local
