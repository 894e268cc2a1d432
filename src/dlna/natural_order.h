// Names in the order a file explorer shows them: runs of digits by their value ("Серия 2"
// before "Серия 10", "007" beside "7", runs of any length without overflow), letters
// case-insensitively in Latin, Latin-1, Latin Extended-A, Greek and Cyrillic (Ё with Е, an
// accented Latin-1 letter with its base letter), spaces and punctuation before digits, digits
// before letters. Names equal so (case, accents, leading zeros) are ordered by their bytes, so
// two different names never tie and the order is the same on every build and every locale.
// A sort key is computed once per name and compared as bytes, so a large folder is sorted
// with one key per name, not one decoding per comparison. Input is UTF-8; a byte that is no
// UTF-8 (a POSIX name may hold one) counts as punctuation.
// Pure, safe from any thread.
#pragma once
#include <string>
#include <string_view>

namespace tovi::dlna {

// The key of a name: NaturalKey(a) < NaturalKey(b) (as std::string) when a comes first.
std::string NaturalKey(std::string_view name);
// The same appended to *key, so that many names' keys can share one buffer.
void AppendNaturalKey(std::string_view name, std::string* key);

// Whether a comes before b; for a few comparisons (a sort computes the keys once instead).
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace tovi::dlna
