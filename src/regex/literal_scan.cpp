#include "regex/literal_scan.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <experimental/simd>

#include "regex/case_map.h"

namespace tovi::regex {
namespace {

namespace stdx = std::experimental;
// The standard library's portable vectors: 16 byte lanes on any x86-64, the same code for both
// compilers of the project.
using Lanes = stdx::native_simd<std::uint8_t>;
using LaneMask = Lanes::mask_type;
constexpr std::int64_t kLanes = static_cast<std::int64_t>(Lanes::size());

// Hits remembered per literal; past it the oldest half is forgotten (and rescanned if asked).
constexpr std::size_t kMaxRememberedHits = 4096;
// memchr gives way to the vector scan once its byte stands more often than once in kSparseGap
// bytes, judged after kDenseAfterHits hits.
constexpr std::int64_t kDenseAfterHits = 16;
constexpr std::int64_t kSparseGap = 256;
// The probes are the rarest bytes among the literal's first and last ones: the bytes in between
// of a longer literal add little.
constexpr int kProbeChoices = 64;

// How common a byte is in web pages and text, 0 (rare) to 9; the scan looks for the rarest
// bytes of a literal so that it seldom stops for nothing.
constexpr std::array<std::uint8_t, 256> BuildRanks() {
  std::array<std::uint8_t, 256> rank{};
  for (int c = 0x80; c < 0x100; ++c) rank[c] = 3;  // Windows-1251 and UTF-8 text
  rank[0xD0] = rank[0xD1] = 6;                     // UTF-8 Cyrillic lead bytes
  const char* byClass[] = {
      "#$%()*+?@[\\]^`{|}~!",                     // 1
      "&'_jqxzQXZJ",                               // 2
      ",:;ABCDEFGHIKLMNOPRSTUVWY\t",               // 3
      "-.0123456789wykvbfg",                       // 4
      "\r\n/=\"pmuhc",                             // 5
      "dlr",                                       // 6
      "sno<>",                                     // 7
      "eati",                                      // 8
      " ",                                         // 9
  };
  for (int k = 0; k < 9; ++k) {
    for (const char* p = byClass[k]; *p != 0; ++p) rank[static_cast<std::uint8_t>(*p)] = static_cast<std::uint8_t>(k + 1);
  }
  return rank;
}

constexpr std::array<std::uint8_t, 256> kRank = BuildRanks();
constexpr int kMaxRank = 9;

// The first position in [at, stop) where both probes stand, scanning whole blocks only; when no
// whole block is left, the position where the unscanned rest begins (at least stop - kLanes).
template <bool kEitherCase>
std::int64_t NextPairInBlocks(const std::uint8_t* in, std::int64_t at, std::int64_t stop,
                              const ScanProbe& a, const ScanProbe& b) {
  const Lanes a1(a.byte), a2(a.partner), b1(b.byte), b2(b.partner);
  const std::uint8_t* pa = in + a.offset;
  const std::uint8_t* pb = in + b.offset;
  auto hits = [&](std::int64_t i) {
    Lanes va(pa + i, stdx::element_aligned), vb(pb + i, stdx::element_aligned);
    if constexpr (kEitherCase) {
      return (va == a1 || va == a2) && (vb == b1 || vb == b2);
    } else {
      return va == a1 && vb == b1;
    }
  };
  for (; at + 2 * kLanes <= stop; at += 2 * kLanes) {
    LaneMask first = hits(at), second = hits(at + kLanes);
    if (stdx::any_of(first || second)) {
      return stdx::any_of(first) ? at + stdx::find_first_set(first)
                                 : at + kLanes + stdx::find_first_set(second);
    }
  }
  for (; at + kLanes <= stop; at += kLanes) {
    LaneMask m = hits(at);
    if (stdx::any_of(m)) return at + stdx::find_first_set(m);
  }
  return at;
}

}  // namespace

ProbePair ChooseProbes(std::string_view literal, bool ignoreCase) {
  auto probeAt = [&](int offset) {
    auto byte = static_cast<std::uint8_t>(literal[offset]);
    return ScanProbe{offset, byte, ignoreCase ? ToggleCase(byte) : byte};
  };
  auto cost = [](const ScanProbe& p) { return kRank[p.byte] + (p.partner != p.byte ? kRank[p.partner] : 0); };
  const int n = static_cast<int>(literal.size());
  auto nextChoice = [n](int k) { return k + 1 == kProbeChoices / 2 && n > kProbeChoices ? n - kProbeChoices / 2 : k + 1; };
  ProbePair p{probeAt(0), probeAt(0)};
  for (int k = 1; k < n; k = nextChoice(k)) {
    if (cost(probeAt(k)) < cost(p.rare)) p.rare = probeAt(k);
  }
  // A second probe of the same byte tells little more than the first.
  auto secondCost = [&](const ScanProbe& q) { return cost(q) + (q.byte == p.rare.byte ? 2 * kMaxRank : 0); };
  p.second = p.rare;
  for (int k = 0; k < n; k = nextChoice(k)) {
    if (k == p.rare.offset) continue;
    if (p.second.offset == p.rare.offset || secondCost(probeAt(k)) < secondCost(p.second)) p.second = probeAt(k);
  }
  return p;
}

LiteralScan::LiteralScan(std::string_view literal, bool ignoreCase, const ProbePair& probes)
    : literal_(literal),
      ignoreCase_(ignoreCase),
      rare_(probes.rare),
      second_(probes.second),
      byteSearch_(probes.rare.partner == probes.rare.byte) {}

std::int64_t LiteralScan::NextAt(const std::uint8_t* in, std::int64_t length, std::int64_t from,
                                 MatchBudget& budget) {
  budget.Step();  // a look into what is known costs about a step
  if (from < knownFrom_ || from > knownTo_) {  // nothing known about this stretch
    knownFrom_ = knownTo_ = from;
    hits_.clear();
  }
  auto known = std::lower_bound(hits_.begin(), hits_.end(), from);
  if (known != hits_.end()) return *known;
  if (knownTo_ > length) return -1;  // scanned to the end already
  std::int64_t hit = Scan(in, length, knownTo_, budget);
  Remember(hit, hit < 0 ? length + 1 : hit + 1, budget);
  return hit;
}

void LiteralScan::Remember(std::int64_t hit, std::int64_t scannedTo, MatchBudget& budget) {
  knownTo_ = scannedTo;
  if (hit < 0) return;
  if (hits_.size() >= kMaxRememberedHits) {
    auto half = hits_.begin() + static_cast<std::ptrdiff_t>(kMaxRememberedHits / 2);
    knownFrom_ = *(half - 1) + 1;
    hits_.erase(hits_.begin(), half);
  }
  budget.MakeRoom(hits_);
  hits_.push_back(hit);
}

bool LiteralScan::StandsAt(const std::uint8_t* at) const {
  const auto* lit = reinterpret_cast<const std::uint8_t*>(literal_.data());
  if (!ignoreCase_) return std::memcmp(at, lit, literal_.size()) == 0;
  for (std::size_t k = 0; k < literal_.size(); ++k) {
    if (at[k] != lit[k] && at[k] != ToggleCase(lit[k])) return false;
  }
  return true;
}

// Candidates are positions where both probes stand; each is checked whole. A rare byte is
// looked for with memchr, the fastest scan the platform has, until it proves common; then both
// probes are compared sixteen positions at a time. Nothing is read past the input.
std::int64_t LiteralScan::Scan(const std::uint8_t* in, std::int64_t length, std::int64_t from,
                               MatchBudget& budget) {
  const std::int64_t size = static_cast<std::int64_t>(literal_.size());
  const std::int64_t stop = length - size + 1;  // candidates lie in [from, stop)
  std::int64_t verified = 0;                    // bytes compared to confirm candidates
  std::int64_t at = from;
  std::int64_t found = -1;
  auto check = [&](std::int64_t i) {
    if (!ProbesStandAt(in + i)) return false;
    verified += size;
    return StandsAt(in + i);
  };
  if (byteSearch_) found = ByMemchr(in, stop, &at, check);
  const bool eitherCase = rare_.partner != rare_.byte || second_.partner != second_.byte;
  while (found < 0 && at < stop) {
    std::int64_t i = eitherCase ? NextPairInBlocks<true>(in, at, stop, rare_, second_)
                                : NextPairInBlocks<false>(in, at, stop, rare_, second_);
    if (i + kLanes > stop) {  // the rest is shorter than a block
      for (at = i; found < 0 && at < stop; ++at) {
        if (check(at)) found = at;
      }
      break;
    }
    if (check(i)) found = i;
    at = i + 1;
  }
  budget.Charge((found < 0 ? std::max(at, from) : found) - from + verified);
  return found;
}

// Looks for the rarest byte with memchr while its hits stay sparse; leaves *at where it stopped.
template <class Check>
std::int64_t LiteralScan::ByMemchr(const std::uint8_t* in, std::int64_t stop, std::int64_t* at,
                                   Check& check) {
  const std::int64_t from = *at;
  std::int64_t hits = 0;
  while (*at < stop) {
    const void* hit = std::memchr(in + *at + rare_.offset, rare_.byte, static_cast<std::size_t>(stop - *at));
    if (hit == nullptr) {
      *at = stop;
      return -1;
    }
    std::int64_t i = static_cast<const std::uint8_t*>(hit) - in - rare_.offset;
    if (check(i)) return i;
    *at = i + 1;
    if (++hits > kDenseAfterHits && (*at - from) < hits * kSparseGap) {
      byteSearch_ = false;  // common in this input: the vector scan of two probes does better
      return -1;
    }
  }
  return -1;
}

bool LiteralScan::ProbesStandAt(const std::uint8_t* at) const {
  std::uint8_t a = at[rare_.offset], b = at[second_.offset];
  return (a == rare_.byte || a == rare_.partner) && (b == second_.byte || b == second_.partner);
}

}  // namespace tovi::regex
