// The compiled form of a pattern: a byte buffer of nodes, each one kind byte, a 4-byte signed
// link to the next node relative to its own start (0 = none) and an operand. Shared by the
// compiler, which writes it, and the matcher, which walks it. Internal to the regex library.
#pragma once
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tovi::regex {

inline constexpr std::uint8_t kCheckByte = 0x9C;  // first byte of every program
inline constexpr int kMaxGroups = 15;             // group 0 (whole match) and groups 1 to 14
inline constexpr int kMaxLoopDepth = 10;          // nesting of counted loops at match time
inline constexpr std::int64_t kInfiniteCount = 2147483646;

enum Op : std::uint8_t {
  kEnd = 1,        // end of program: a match
  kBol,            // start of input
  kEol,            // end of input
  kBolMl,          // start of line (multi-line)
  kEolMl,          // end of line (multi-line)
  kAny,            // any byte
  kAnyMl,          // any byte but a line break
  kBranch,         // alternative: operand is the node right after it
  kBack,           // loop-back link (negative next)
  kExactly,        // literal string, zero-terminated
  kExactlyCi,      // the same ignoring case
  kNothing,        // empty
  kComment,        // empty: a comment or modifier group
  kDigit,          // 0-9
  kNotDigit,       // any byte but 0-9
  kAnyOfTiny,      // count byte + up to three member bytes
  kAnyButTiny,     // count byte + up to three excluded bytes
  kAnyOfSet,       // 32-byte member set
  kStar,           // operand: a single-byte node
  kStarLazy,
  kPlus,
  kPlusLazy,
  kBraces,         // operand: min (4), max (4), then a single-byte node
  kBracesLazy,
  kLoopEntry,      // operand: the repeated expression, whose tail links to the kLoop
  kLoop,           // operand: distance back to its kLoopEntry (4), min (4), max (4)
  kLoopLazy,
  kOpen,           // operand: group number (1)
  kClose,
  kBackRef,        // operand: group number (1)
  kBackRefCi,
  kBound,          // word boundary
  kNotBound,
  kOpLimit
};

inline constexpr int kNodeHeader = 5;

inline std::int32_t ReadInt32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void WriteInt32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, sizeof v); }

using ByteSet = std::array<bool, 256>;

// What the compiler learns about a pattern to skip hopeless start positions; none of it
// changes which match is found.
struct Prefilter {
  bool anchored = false;            // only position 0 can match
  std::string firstLiteral;         // every match starts with this text (when not empty)
  bool useFirstSet = false;         // every match starts with a byte of firstSet
  ByteSet firstSet{};
  std::vector<std::string> required;  // literals every match contains (case-sensitive)
};

// Character tables the compiler bakes into a program and the matcher consults.
struct Tables {
  ByteSet blank{};
  ByteSet word{};
  ByteSet lineBreak{};
  bool hasPair = false;
  std::uint8_t pairHead = 13;
  std::uint8_t pairTail = 10;
  bool LineBreaksDefined() const;
};

struct Program {
  std::vector<std::uint8_t> code;  // code[0] == kCheckByte, first node at 1
  Prefilter prefilter;
  Tables tables;  // the tables the program was compiled with
};

// Modifier flags by letter, in the order of the letters i r s g m x.
struct Flags {
  bool i = false;
  bool r = true;
  bool s = true;
  bool g = true;
  bool m = false;
  bool x = false;
  bool operator==(const Flags&) const = default;
};

}  // namespace tovi::regex
