// Text codings the HTTP engines share: URL decoding and percent-encoding, chunk sizes, Base64,
// dotted IPv4 text.
// Pure functions, safe from any thread.
#pragma once
#include <cstdint>
#include <string>

namespace tovi::http {

// "+" becomes a space; "%" takes the next two characters (fewer at the end) as a hex number,
// 1..255 gives that byte, 0 or non-hex gives nothing; the "%" and its two characters are
// consumed either way. No character set conversion.
std::string URLDecode(const std::string& s);

// The value of a hex digit (either case), or -1 for any other character.
int HexDigitValue(char c);

// Every byte for which mustEncode is true as "%XX" (upper-case hex), the rest as they are.
std::string PercentEncode(const std::string& s, bool (*mustEncode)(unsigned char));

// The size on a chunked body's size line, hexadecimal, ended by a space, TAB, ';' (an extension)
// or the end; 0 when it is empty or not hexadecimal. Sizes beyond 2^62 count as 2^62.
std::int64_t ParseChunkSize(const std::string& line);

std::string Base64Encode(const std::string& bytes);
// Characters outside the Base64 alphabet are skipped; decoding stops at "=".
std::string Base64Decode(const std::string& text);

// Four numbers separated by dots. Throws std::invalid_argument for a part that is not a number
// (the message is "'<part>' is not a valid integer value").
void DottedToAddress(const std::string& dotted, std::uint8_t out[4]);
std::string AddressToDotted(const std::uint8_t address[4]);

}  // namespace tovi::http
