#include "regex/pattern.h"

#include <algorithm>

#include "regex/case_map.h"
#include "regex/compiler.h"
#include "regex/matcher.h"
#include "regex/program.h"

namespace tovi {
namespace {

const char kDefaultBlankChars[] = " \t\n\r\f";
const char kDefaultWordLetters[] =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_";
const char kDefaultLineBreakChars[] = "\r\n";

std::string UpToZero(const std::string& text) { return text.substr(0, text.find('\0')); }

regex::ByteSet SetOf(const std::string& bytes) {
  regex::ByteSet set;
  for (unsigned char c : bytes) set.Add(c);
  return set;
}

std::string BuildMessage(int code, int offset) {
  std::string text = TPattern::ErrorMessage(code);
  if (code < kFirstMatchError) text += " (pos " + std::to_string(offset) + ")";
  return text;
}

}  // namespace

EPattern::EPattern(int code, int offset)
    : std::runtime_error(BuildMessage(code, offset)), code_(code), offset_(code < kFirstMatchError ? offset : -1) {}

std::string TPattern::ErrorMessage(int code) {
  switch (code) {
    case kErrNullArgument: return "Pattern(comp): Null Argument";
    case kErrTooManyGroups: return "Pattern(comp): ParseReg Too Many ()";
    case kErrUnmatchedOpen: return "Pattern(comp): ParseReg Unmatched ()";
    case kErrUnmatchedClose: return "Pattern(comp): ParseReg Unmatched ()";
    case kErrJunkOnEnd: return "Pattern(comp): ParseReg Junk On End";
    case kErrOperandCouldBeEmpty: return "Pattern(comp): *+ Operand Could Be Empty";
    case kErrNestedQuantifier: return "Pattern(comp): Nested *?+";
    case kErrBadHexDigit: return "Pattern(comp): Bad Hex Digit";
    case kErrInvalidRange: return "Pattern(comp): Invalid [] Range";
    case kErrClassTrailingBackslash: return "Pattern(comp): Parse Atom Trailing \\";
    case kErrNoHexCode: return "Pattern(comp): No Hex Code After \\x";
    case kErrHexCodeTooBig: return "Pattern(comp): Hex Code After \\x Is Too Big";
    case kErrUnmatchedBracket: return "Pattern(comp): Unmatched []";
    case kErrInternalUrp: return "Pattern(comp): Internal Urp";
    case kErrFollowsNothing: return "Pattern(comp): ?+*{ Follows Nothing";
    case kErrTrailingBackslash: return "Pattern(comp): Trailing \\";
    case kErrAtomDisaster: return "Pattern(comp): ParseAtom Internal Disaster";
    case kErrBracesTooBig: return "Pattern(comp): BRACES Argument Too Big";
    case kErrBracesMinAboveMax: return "Pattern(comp): BRACE Min Param Greater than Max";
    case kErrUnclosedComment: return "Pattern(comp): Unclosed (?#Comment)";
    case kErrBadModifier: return "Pattern(comp): Unrecognized Modifier";
    case kErrBadPairedSeparator:
      return "Pattern(comp): LinePairedSeparator must contain two different chars or no chars at all";
    case kErrRepeatInappropriate: return "Pattern(exec): RegRepeat Called Inappropriately";
    case kErrMemoryCorruption: return "Pattern(exec): MatchPrim Memory Corruption";
    case kErrCorruptedPointers: return "Pattern(exec): MatchPrim Corrupted Pointers";
    case kErrNoExpression: return "Pattern(exec): Not Assigned Expression Property";
    case kErrCorruptedProgram: return "Pattern(exec): Corrupted Program";
    case kErrNoInput: return "Pattern(exec): No Input String Specified";
    case kErrLoopStackExceeded: return "Pattern(exec): Loop Stack Exceeded";
    case kErrLoopWithoutEntry: return "Pattern(exec): Loop Without LoopEntry !";
    case kErrStepLimitExceeded: return "Pattern(exec): Match Step Limit Exceeded";
    case kErrMemoryLimitExceeded: return "Pattern(exec): Match Memory Limit Exceeded";
    default: return "Unknown error";
  }
}

TPattern::TPattern()
    : blankChars_(kDefaultBlankChars),
      wordLetters_(kDefaultWordLetters),
      lineBreakChars_(kDefaultLineBreakChars) {
  regex::Flags defaults;
  flags_ = {defaults.i, defaults.r, defaults.s, defaults.g, defaults.m, defaults.x};
  ClearGroups();
}

TPattern::~TPattern() = default;

void TPattern::SetExpression(const std::string& pattern) {
  std::string text = UpToZero(pattern);
  if (text != expression_ || !program_) DropProgram();
  expression_ = std::move(text);
}

void TPattern::SetInputString(std::string input) {
  input.resize(std::min(input.size(), input.find('\0')));
  input_ = std::move(input);
  hasInput_ = true;
  ClearGroups();
}

void TPattern::SetFlag(FlagIndex f, bool on) {
  if (flags_[f] != on) DropProgram();
  flags_[f] = on;
}

void TPattern::SetBlankChars(const std::string& chars) {
  blankChars_ = chars;
  DropProgram();
}

void TPattern::SetWordLetters(const std::string& chars) {
  wordLetters_ = chars;
  DropProgram();
}

void TPattern::SetLineBreakChars(const std::string& chars) {
  lineBreakChars_ = chars;
  DropProgram();
}

std::string TPattern::LinePairedSeparator() const {
  if (!hasPair_) return std::string();
  return std::string{static_cast<char>(pairHead_), static_cast<char>(pairTail_)};
}

void TPattern::SetLinePairedSeparator(const std::string& pair) {
  if (pair.empty()) {
    hasPair_ = false;
  } else if (pair.size() == 2 && pair[0] != pair[1]) {
    hasPair_ = true;
    pairHead_ = static_cast<unsigned char>(pair[0]);
    pairTail_ = static_cast<unsigned char>(pair[1]);
  } else {
    Raise(kErrBadPairedSeparator, 0);
  }
  DropProgram();
}

unsigned char TPattern::ToggleCase(unsigned char c) { return regex::ToggleCase(c); }

void TPattern::DropProgram() { program_.reset(); }

void TPattern::ClearGroups() {
  groupStart_.fill(-1);
  groupEnd_.fill(-1);
}

void TPattern::Raise(int code, int offset) {
  lastError_ = code;
  throw EPattern(code, offset);
}

void TPattern::Compile() {
  if (expression_.empty()) Raise(kErrNullArgument, 0);
  DropProgram();
  regex::Flags flags{flags_[kI], flags_[kR], flags_[kS], flags_[kG], flags_[kM], flags_[kX]};
  regex::Tables tables;
  tables.blank = SetOf(blankChars_);
  tables.word = SetOf(wordLetters_);
  tables.lineBreak = SetOf(lineBreakChars_);
  tables.hasPair = hasPair_;
  tables.pairHead = pairHead_;
  tables.pairTail = pairTail_;
  try {
    program_ = std::make_unique<regex::Program>(regex::CompilePattern(expression_, flags, tables));
  } catch (const EPattern& e) {
    lastError_ = e.FailCode();
    throw;
  }
}

bool TPattern::Exec() {
  ClearGroups();
  if (expression_.empty()) Raise(kErrNoExpression, -1);
  if (!program_) Compile();
  if (!hasInput_) Raise(kErrNoInput, -1);
  regex::Captures found;
  try {
    regex::Matcher matcher(*program_, reinterpret_cast<const std::uint8_t*>(input_.data()),
                           static_cast<std::int64_t>(input_.size()), limits_);
    if (!matcher.Search(&found)) return false;
  } catch (const EPattern& e) {
    lastError_ = e.FailCode();
    throw;
  }
  groupStart_ = found.start;
  groupEnd_ = found.end;
  return true;
}

std::string TPattern::GroupText(int n) const {
  std::int64_t length = GroupLength(n);
  if (length < 0) return std::string();
  return input_.substr(static_cast<std::size_t>(groupStart_[n]), static_cast<std::size_t>(length));
}

std::int64_t TPattern::GroupStart(int n) const {
  return GroupLength(n) < 0 ? -1 : groupStart_[n];
}

std::int64_t TPattern::GroupLength(int n) const {
  if (n < 0 || n >= kGroupCount || !hasInput_) return -1;
  if (groupStart_[n] < 0 || groupEnd_[n] < groupStart_[n]) return -1;
  return groupEnd_[n] - groupStart_[n];
}

}  // namespace tovi
