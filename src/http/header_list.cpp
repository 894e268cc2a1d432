#include "http/header_list.h"

#include <iterator>
#include <utility>

#include "platform/ascii.h"

namespace tovi::http {
namespace {

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimmedView(std::string_view s) {
  while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
  return s;
}

bool IsContinuation(const std::string& line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

// Whether NameOf(line) is `name`, case aside, without copying the name out: every look-up of a
// record walks its lines, and a request and its answer make some thirty. A line whose byte after
// the name's length is no colon is passed over without a search for its colon.
bool HasName(const std::string& line, std::string_view name) {
  if (name.empty()) {
    const std::size_t colon = line.find(':');
    return colon == 0 || colon == line.npos;
  }
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  // The same letters: the line has a colon before that one exactly when the name has.
  return text::SameAsciiText(std::string_view(line).substr(0, name.size()), name) &&
         name.find(':') == name.npos;
}

}  // namespace

std::string Trim(const std::string& s) { return std::string(TrimmedView(s)); }

std::string UpperCase(std::string s) {
  for (char& c : s) c = text::UpperAscii(c);
  return s;
}

std::string LowerCase(std::string s) {
  for (char& c : s) c = text::LowerAscii(c);
  return s;
}

bool SameText(std::string_view a, std::string_view b) { return text::SameAsciiText(a, b); }

std::string TNetHeaderList::NameOf(const std::string& line) {
  std::size_t colon = line.find(':');
  return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

long TNetHeaderList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (HasName(lines_[i], name)) return static_cast<long>(i);
  }
  return -1;
}

std::size_t TNetHeaderList::ContinuationEnd(std::size_t index) const {
  std::size_t end = index + 1;
  while (end < lines_.size() && IsContinuation(lines_[end])) ++end;
  return end;
}

std::string TNetHeaderList::ValueAt(std::size_t index) const {
  const std::string_view line = lines_[index];
  const std::size_t colon = line.find(':');
  std::string value(colon == std::string_view::npos ? std::string_view()
                                                    : TrimmedView(line.substr(colon + 1)));
  const std::size_t end = ContinuationEnd(index);
  if (end == index + 1) return value;
  // Appended in place, each line once: a peer's thousands of continuation lines cost their
  // length, not its square.
  for (std::size_t i = index + 1; i < end; ++i) {
    while (!value.empty() && IsBlankOrControl(value.back())) value.pop_back();
    value += ' ';
    value += TrimmedView(lines_[i]);
  }
  return Trim(value);
}

std::string TNetHeaderList::Values(std::string_view name) const {
  long i = IndexOfName(name);
  return i < 0 ? std::string() : ValueAt(static_cast<std::size_t>(i));
}

std::vector<std::string> TNetHeaderList::Extract(std::string_view name) const {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (HasName(lines_[i], name)) out.push_back(ValueAt(i));
  }
  return out;
}

std::vector<std::string> TNetHeaderList::Fold(std::string line, std::size_t keep) const {
  std::vector<std::string> out;
  if (!foldLines_ || foldLength_ <= 0) {
    out.push_back(std::move(line));
    return out;
  }
  std::string rest = std::move(line);
  const std::size_t limit = static_cast<std::size_t>(foldLength_);
  while (rest.size() > limit) {
    // The last break point that keeps the line within the limit, else the first one after it.
    std::size_t best = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i + 1 < rest.size(); ++i) {
      char c = rest[i];
      if (c == '"') quoted = !quoted;
      if (quoted || (c != ' ' && c != '\t' && c != ',')) continue;
      // Never inside "name: ", nor right after the leading space of a continuation line.
      if (i < keep || i == 0) continue;
      if (i + 1 <= limit || best == std::string::npos) best = i;
      if (i + 1 > limit) break;
    }
    if (best == std::string::npos) break;
    out.push_back(rest.substr(0, best + 1));
    std::size_t next = best + 1;
    while (next < rest.size() && (rest[next] == ' ' || rest[next] == '\t')) ++next;
    if (next >= rest.size()) {
      rest.clear();
      break;
    }
    rest.replace(0, next, 1, ' ');  // a continuation line starts with one space
    keep = 0;
  }
  if (!rest.empty()) out.push_back(rest);
  return out;
}

void TNetHeaderList::SetValue(std::string_view name, std::string_view value) {
  const long found = IndexOfName(name);
  const std::size_t index = static_cast<std::size_t>(found);
  if (value.empty()) {
    if (found >= 0) ReplaceLines(index, {});
    return;
  }
  std::string line;
  line.reserve(name.size() + 2 + value.size());
  line.append(name).append(": ").append(value);
  // Every answer sets a dozen short lines: those skip the folding and its list of pieces.
  const bool fits = !foldLines_ || foldLength_ <= 0 ||
                    line.size() <= static_cast<std::size_t>(foldLength_);
  if (fits && found < 0) {
    lines_.push_back(std::move(line));
  } else if (fits && ContinuationEnd(index) == index + 1) {
    lines_[index] = std::move(line);
  } else if (found < 0) {
    std::vector<std::string> folded = Fold(std::move(line), name.size() + 2);
    lines_.insert(lines_.end(), std::make_move_iterator(folded.begin()),
                  std::make_move_iterator(folded.end()));
  } else {
    ReplaceLines(index, Fold(std::move(line), name.size() + 2));
  }
}

// The line at index and its continuations give way to lines.
void TNetHeaderList::ReplaceLines(std::size_t index, std::vector<std::string> lines) {
  const auto first = lines_.begin() + static_cast<std::ptrdiff_t>(index);
  lines_.erase(first, lines_.begin() + static_cast<std::ptrdiff_t>(ContinuationEnd(index)));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(index),
                std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
}

std::string TNetHeaderList::Text() const {
  std::string out;
  for (const std::string& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace tovi::http
