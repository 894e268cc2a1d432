// The pattern matcher that cuts text out of fetched pages: a backtracking matcher for a small
// regular-expression dialect over byte strings (one byte is one character, Windows-1251 case
// rules). Standard library only.
//
// Use: set InputString and Expression, call Exec, read GroupText(n). The pattern compiles on the
// first Exec after it or the modifiers changed; every failure, at compile or match time, is an
// EPattern with a numeric code (PatternError). Matching work is bounded (TPatternLimits): a
// search that would compare or scan more than its budget stops with 1016, one that would need
// more memory than its cap with 1017, instead of holding its thread or the machine's memory.
//
// Thread safety: one object per thread at a time; objects share nothing.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace tovi {

namespace regex {
struct Program;
}

// The codes of EPattern::FailCode: pattern errors below kFirstMatchError, match-time errors
// from it. TPattern::ErrorMessage holds their texts.
inline constexpr int kFirstMatchError = 1000;
enum PatternError : int {
  kErrNullArgument = 100,
  kErrTooManyGroups = 102,
  kErrUnmatchedOpen = 103,
  kErrUnmatchedClose = 104,
  kErrJunkOnEnd = 105,
  kErrOperandCouldBeEmpty = 106,
  kErrNestedQuantifier = 107,
  kErrBadHexDigit = 108,
  kErrInvalidRange = 109,
  kErrClassTrailingBackslash = 110,
  kErrNoHexCode = 111,
  kErrHexCodeTooBig = 112,
  kErrUnmatchedBracket = 113,
  kErrInternalUrp = 114,
  kErrFollowsNothing = 115,
  kErrTrailingBackslash = 116,
  kErrAtomDisaster = 119,
  kErrBracesTooBig = 122,
  kErrBracesMinAboveMax = 124,
  kErrUnclosedComment = 125,
  kErrBadModifier = 127,
  kErrBadPairedSeparator = 128,
  kErrRepeatInappropriate = 1000,
  kErrMemoryCorruption = 1001,
  kErrCorruptedPointers = 1002,
  kErrNoExpression = 1003,
  kErrCorruptedProgram = 1004,
  kErrNoInput = 1005,
  kErrLoopStackExceeded = 1014,
  kErrLoopWithoutEntry = 1015,
  kErrStepLimitExceeded = 1016,    // the work budget ran out
  kErrMemoryLimitExceeded = 1017,  // the memory cap would be passed
};

// What one Exec may cost. A search that reaches a limit ends with its error rather than run on.
struct TPatternLimits {
  // Units of work: one per byte compared or scanned, more per step of the backtracking (see
  // regex/budget.h), about a nanosecond each. The default ends any search within about half a
  // second on a current PC, while a one-pass cut of a 32 MiB page uses a twelfth of it.
  std::int64_t workUnits = 400'000'000;
  // Bytes of backtracking state and search memos: the "/parserlink" cut of a 32 MiB page needs
  // a few kilobytes of it; (a|b)*c over megabytes fits.
  std::size_t memoryBytes = std::size_t{64} << 20;
};

class EPattern : public std::runtime_error {
 public:
  // Pattern errors (codes below 1000) carry the parser's offset in their text; match-time
  // errors carry the code's text alone and an offset of -1.
  EPattern(int code, int offset);
  int FailCode() const { return code_; }
  int FailOffset() const { return offset_; }

 private:
  int code_;
  int offset_;
};

class TPattern {
 public:
  static constexpr int kGroupCount = 15;  // group 0 (the whole match) and groups 1 to 14

  TPattern();
  ~TPattern();
  TPattern(const TPattern&) = delete;
  TPattern& operator=(const TPattern&) = delete;

  // Both texts are kept up to their first zero byte.
  const std::string& Expression() const { return expression_; }
  void SetExpression(const std::string& pattern);
  const std::string& InputString() const { return input_; }
  // Also clears the group positions. Taken by value: a page handed over with std::move is not
  // copied.
  void SetInputString(std::string input);

  // Modifiers, by their letters in the pattern's (?...) groups. Defaults: i off, r on, s on,
  // g on, m off, x off.
  bool ModifierI() const { return flags_[kI]; }
  void SetModifierI(bool on) { SetFlag(kI, on); }
  bool ModifierR() const { return flags_[kR]; }
  void SetModifierR(bool on) { SetFlag(kR, on); }
  bool ModifierS() const { return flags_[kS]; }
  void SetModifierS(bool on) { SetFlag(kS, on); }
  bool ModifierG() const { return flags_[kG]; }
  void SetModifierG(bool on) { SetFlag(kG, on); }
  bool ModifierM() const { return flags_[kM]; }
  void SetModifierM(bool on) { SetFlag(kM, on); }
  bool ModifierX() const { return flags_[kX]; }
  void SetModifierX(bool on) { SetFlag(kX, on); }

  // Bytes behind \s, behind \w and the word boundaries, and the line breaks of ".", ^ and $.
  const std::string& BlankChars() const { return blankChars_; }
  void SetBlankChars(const std::string& chars);
  const std::string& WordLetters() const { return wordLetters_; }
  void SetWordLetters(const std::string& chars);
  const std::string& LineBreakChars() const { return lineBreakChars_; }
  void SetLineBreakChars(const std::string& chars);
  // Two different bytes that together count as one line break, or empty for none; anything
  // else raises EPattern 128.
  std::string LinePairedSeparator() const;
  void SetLinePairedSeparator(const std::string& pair);

  // The case partner of a byte in Windows-1251: its upper-case form, else its lower-case form.
  static unsigned char ToggleCase(unsigned char c);

  // Compiles now rather than on the next Exec; raises the pattern's error if any.
  void Compile();
  // Searches the input from its first byte for the leftmost match.
  bool Exec();

  // Text of group n (0 to 14) of the last match; empty when n is out of range or the group did
  // not take part.
  std::string GroupText(int n) const;
  // Offset and length of group n in the input, or -1 when it did not take part.
  std::int64_t GroupStart(int n) const;
  std::int64_t GroupLength(int n) const;

  int LastError() const { return lastError_; }  // code of the last error raised, 0 for none

  const TPatternLimits& Limits() const { return limits_; }
  void SetLimits(const TPatternLimits& limits) { limits_ = limits; }

  static std::string ErrorMessage(int code);

 private:
  enum FlagIndex { kI, kR, kS, kG, kM, kX, kFlagCount };
  void SetFlag(FlagIndex f, bool on);
  void DropProgram();
  void ClearGroups();
  [[noreturn]] void Raise(int code, int offset);

  std::string expression_;
  bool hasInput_ = false;
  std::string input_;
  std::array<bool, kFlagCount> flags_{};
  std::string blankChars_;
  std::string wordLetters_;
  std::string lineBreakChars_;
  bool hasPair_ = true;
  unsigned char pairHead_ = 13;
  unsigned char pairTail_ = 10;
  std::unique_ptr<regex::Program> program_;
  std::array<std::int64_t, kGroupCount> groupStart_{};
  std::array<std::int64_t, kGroupCount> groupEnd_{};
  int lastError_ = 0;
  TPatternLimits limits_;
};

}  // namespace tovi
