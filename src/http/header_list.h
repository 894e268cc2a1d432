// TNetHeaderList: the ordered header lines (name ": " value) both HTTP engines read and write.
// Names are matched without regard to ASCII case; a line starting with a space or TAB continues
// the line before it. Long values are folded when set (fold length; 0 = no folding).
// Thread safety: none; a list belongs to one record on one thread.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::http {

inline constexpr int kRecordFoldLength = 1024;  // a record's own header lines
inline constexpr int kCustomFoldLength = 78;    // CustomHeaders

// The most a message head from a peer may hold, a request's (server) or a response's (client):
// header lines after the first line, continuation lines counted, and bytes of all its lines
// with their line ends. Past either the head is refused: what a peer sends costs at most this.
inline constexpr int kMaxHeadLines = 100;
inline constexpr std::size_t kMaxHeadBytes = 64 * 1024;

class TNetHeaderList {
 public:
  explicit TNetHeaderList(int foldLength = kRecordFoldLength) : foldLength_(foldLength) {}

  int FoldLength() const { return foldLength_; }
  void SetFoldLength(int length) { foldLength_ = length; }
  bool FoldLines() const { return foldLines_; }
  void SetFoldLines(bool on) { foldLines_ = on; }

  std::size_t Count() const { return lines_.size(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  const std::vector<std::string>& Lines() const { return lines_; }
  void Add(const std::string& line) { lines_.push_back(line); }
  void Clear() { lines_.clear(); }
  void Reserve(std::size_t lines) { lines_.reserve(lines); }
  void Delete(std::size_t i) { lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i)); }

  // The text before the line's first ":" (not trimmed); empty without ":".
  static std::string NameOf(const std::string& line);
  // Index of the first line with that name, or -1.
  long IndexOfName(std::string_view name) const;

  // Value of the first line with that name with its continuation lines joined; "" when absent.
  std::string Values(std::string_view name) const;
  // Values of every line with that name, in order.
  std::vector<std::string> Extract(std::string_view name) const;
  // Empty value: deletes the first such line and its continuations. Otherwise replaces that
  // line where it stands (or appends) with name ": " value, folded.
  void SetValue(std::string_view name, std::string_view value);

  // Every line followed by CR LF.
  std::string Text() const;

 private:
  std::string ValueAt(std::size_t index) const;
  std::size_t ContinuationEnd(std::size_t index) const;
  std::vector<std::string> Fold(std::string line, std::size_t keep) const;
  void ReplaceLines(std::size_t index, std::vector<std::string> lines);

  std::vector<std::string> lines_;
  int foldLength_;
  bool foldLines_ = true;
};

// Removes leading and trailing blanks and control characters (bytes up to 32).
std::string Trim(const std::string& s);
// ASCII upper and lower case, other bytes unchanged.
std::string UpperCase(std::string s);
std::string LowerCase(std::string s);
// ASCII letters in any case alike.
bool SameText(std::string_view a, std::string_view b);

}  // namespace tovi::http
