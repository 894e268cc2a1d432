#include "local/subtitles_beside.h"

#include <algorithm>
#include <array>
#include <tuple>

#include "local/paths.h"
#include "platform/ascii.h"
#include "platform/files.h"

namespace tovi::local {

namespace {

// A tag is a word: letters (any script), "-" and "_", this many bytes at most. "Film.2010.srt"
// and "Film.720p.srt" hold none: their digits are part of the name.
constexpr std::size_t kMaxTagBytes = 16;
// What a subtitle holds, written after its language: "film.ru.forced.srt", "film.en.sdh.srt".
constexpr std::array<std::string_view, 6> kFlags{"forced", "sdh", "cc", "hi", "full", "signs"};

// The other names files are tagged with in a language: its ISO 639-2 codes and English name.
struct LanguageNames {
  const char* code;  // ISO 639-1
  std::array<const char*, 3> names;
};
constexpr std::array<LanguageNames, 24> kLanguages{{
    {"ru", {"rus", "russian", ""}},     {"en", {"eng", "english", ""}},
    {"uk", {"ukr", "ukrainian", ""}},   {"be", {"bel", "belarusian", ""}},
    {"kk", {"kaz", "kazakh", ""}},      {"de", {"deu", "ger", "german"}},
    {"fr", {"fra", "fre", "french"}},   {"es", {"spa", "spanish", ""}},
    {"it", {"ita", "italian", ""}},     {"pt", {"por", "portuguese", ""}},
    {"pl", {"pol", "polish", ""}},      {"nl", {"nld", "dut", "dutch"}},
    {"cs", {"ces", "cze", "czech"}},    {"tr", {"tur", "turkish", ""}},
    {"zh", {"zho", "chi", "chinese"}},  {"ja", {"jpn", "japanese", ""}},
    {"ko", {"kor", "korean", ""}},      {"ar", {"ara", "arabic", ""}},
    {"he", {"heb", "hebrew", ""}},      {"fi", {"fin", "finnish", ""}},
    {"sv", {"swe", "swedish", ""}},     {"hu", {"hun", "hungarian", ""}},
    {"ro", {"ron", "rum", "romanian"}}, {"el", {"ell", "gre", "greek"}},
}};

bool IsTag(std::string_view tag) {
  if (tag.size() < 2 || tag.size() > kMaxTagBytes) return false;
  for (const char c : tag) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        static_cast<unsigned char>(c) >= 0x80;
    if (!letter && c != '-' && c != '_') return false;
  }
  return tag.front() != '-' && tag.front() != '_';
}

// "pt-BR" and "eng_SDH" name "pt" and "eng"; ASCII letters in lower case.
std::string PrimaryTag(std::string_view tag) {
  std::string primary(tag.substr(0, tag.find_first_of("-_")));
  for (char& c : primary) c = text::LowerAscii(c);
  return primary;
}

bool TagNamesLanguage(std::string_view tag, const std::string& language) {
  if (language.empty()) return false;
  const std::string primary = PrimaryTag(tag);
  if (primary == language) return true;
  for (const LanguageNames& names : kLanguages) {
    if (language != names.code) continue;
    return std::find(names.names.begin(), names.names.end(), primary) != names.names.end();
  }
  return false;
}

bool IsFlag(std::string_view tag) {
  return std::any_of(kFlags.begin(), kFlags.end(),
                     [tag](std::string_view flag) { return text::SameAsciiText(tag, flag); });
}

// "ru", "pt-BR", "rus", "Russian": an ISO 639-1 code or a name of the table.
bool IsLanguage(std::string_view tag) {
  if (!IsTag(tag)) return false;
  const std::string primary = PrimaryTag(tag);
  if (primary.size() == 2) return true;
  for (const LanguageNames& names : kLanguages) {
    if (std::find(names.names.begin(), names.names.end(), primary) != names.names.end()) {
      return true;
    }
  }
  return false;
}

// The path without its last ".part" (the whole path when it has none).
std::string_view WithoutLastPart(std::string_view path) {
  const std::size_t dot = path.rfind('.');
  return dot == std::string_view::npos ? path : path.substr(0, dot);
}

}  // namespace

SubtitleIndex::SubtitleIndex(std::string language) : language_(std::move(language)) {}

void SubtitleIndex::Add(std::string_view path) {
  if (ExtensionOf(path) == "idx") pictureStems_.insert(fs::NameKey(WithoutLastPart(path)));
  const SubtitleType* type = SubtitleTypeOfName(path);
  if (!type) return;
  // "Film.ru.srt" may be the subtitle of "Film.ru.mkv" or the Russian one of "Film.mkv";
  // "Film.ru.forced.srt" may be also the Russian one of "Film.mkv" that shows signs only.
  const std::string_view whole = WithoutLastPart(path);
  byStem_[fs::NameKey(whole)].push_back(Candidate{path, {}, type});
  const std::string_view shorter = WithoutLastPart(whole);
  const std::string_view tag = whole.substr(std::min(whole.size(), shorter.size() + 1));
  if (shorter.size() == whole.size() || !IsTag(tag) || FileNameOf(shorter).empty()) return;
  byStem_[fs::NameKey(shorter)].push_back(Candidate{path, tag, type});
  // Only a language before a known flag: "Film.Extended.ru.srt" is not one of "Film.mkv".
  const std::string_view shortest = WithoutLastPart(shorter);
  const std::string_view language = shorter.substr(std::min(shorter.size(), shortest.size() + 1));
  if (shortest.size() < shorter.size() && IsFlag(tag) && IsLanguage(language) &&
      !FileNameOf(shortest).empty()) {
    byStem_[fs::NameKey(shortest)].push_back(
        Candidate{path, whole.substr(shortest.size() + 1), type});
  }
}

std::vector<FoundSubtitle> SubtitleIndex::For(std::string_view videoPath) const {
  const auto found = byStem_.find(fs::NameKey(WithoutLastPart(videoPath)));
  if (found == byStem_.end()) return {};
  std::vector<Candidate> candidates = found->second;
  std::erase_if(candidates, [this](const Candidate& c) {
    return std::string_view(c.type->extension) == "sub" &&
           pictureStems_.count(fs::NameKey(WithoutLastPart(c.path)));
  });
  const auto rank = [this](const Candidate& c) {
    const std::string_view language = c.tag.substr(0, c.tag.find('.'));  // of "ru.forced" too
    if (!c.tag.empty()) return TagNamesLanguage(language, language_) ? 0 : 3;
    return std::string_view(c.type->extension) == kSubtitleExtension ? 1 : 2;
  };
  const auto flagged = [](const Candidate& c) { return c.tag.find('.') != std::string_view::npos; };
  // Types come from one table, in the order of preference.
  std::sort(candidates.begin(), candidates.end(), [&](const Candidate& a, const Candidate& b) {
    return std::make_tuple(rank(a), flagged(a), a.type, a.path) <
           std::make_tuple(rank(b), flagged(b), b.type, b.path);
  });
  std::vector<FoundSubtitle> subtitles;
  for (const Candidate& c : candidates) {
    if (subtitles.size() == kMaxSubtitlesPerVideo) break;
    subtitles.push_back(FoundSubtitle{std::string(c.path), c.type});
  }
  return subtitles;
}

std::vector<FoundSubtitle> SubtitlesBeside(const std::string& videoPath,
                                           const std::string& language) {
  const std::string_view name = FileNameOf(videoPath);
  const std::string folder = videoPath.substr(0, videoPath.size() - name.size());
  const std::string stem(WithoutLastPart(name));
  // A stem holding wildcards would be read as a pattern: search everything instead.
  const bool wild = stem.find_first_of("*?") != std::string::npos;
  const std::vector<fs::DirEntry> entries = fs::FindEntries(
      folder, wild ? "*" : stem + ".*", fs::kAttrReadOnly | fs::kAttrArchive);
  std::vector<std::string> paths;
  paths.reserve(entries.size());
  for (const fs::DirEntry& entry : entries) {
    if (!entry.IsDirectory()) paths.push_back(folder + entry.name);
  }
  SubtitleIndex index(language);
  for (const std::string& path : paths) index.Add(path);
  return index.For(videoPath);
}

}  // namespace tovi::local
