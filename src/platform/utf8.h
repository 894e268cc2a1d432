// Strict UTF-8 decoding and encoding, the program's own text encoding (display texts, paths of
// the file API) and the base of the code page conversions of both platforms.
// Malformed: a stray continuation byte, a truncated sequence, an overlong form, a surrogate or
// a value above U+10FFFF. Pure, safe from any thread.
#pragma once
#include <string>
#include <string_view>

namespace tovi::text {

// Appends the code points of utf8 to out, skipping malformed bytes; false if any were skipped.
bool DecodeUtf8(const std::string& utf8, std::u32string* out);

// Length of the well-formed sequence starting at utf8[pos] (1 to 4), or 0 when it is malformed.
std::size_t Utf8SequenceLength(std::string_view utf8, std::size_t pos, char32_t* codePoint);

bool IsWellFormedUtf8(std::string_view bytes);

void AppendUtf8(char32_t codePoint, std::string* out);

}  // namespace tovi::text
