// Fuzzes the subtitle text conversion with what a subtitle file could hold: whatever it is, the
// answer is well-formed UTF-8 with a BOM exactly when one was asked for, and within the room
// the server takes for it (three times the input and a BOM); only an input with a NUL byte and
// no UTF-16 BOM, or one over the bound, is left as it is.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "dlna/subtitle_text.h"
#include "platform/eight_bit_text.h"
#include "platform/utf8.h"

using namespace tovi::dlna;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

std::string FromWindows1251(const std::string& bytes) {
  return tovi::text::EightBitToUtf8(bytes, tovi::text::Windows1251());
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool utf16 = StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF");
  for (const bool withBom : {false, true}) {
    const std::optional<std::string> text = SubtitleTextAsUtf8(bytes, withBom, FromWindows1251);
    if (!text) {
      const bool over = size > kMaxConvertedSubtitleBytes;
      if (!over && (utf16 || bytes.find('\0') == std::string_view::npos)) {
        Fail("text left as it is");
      }
      continue;
    }
    if (!tovi::text::IsWellFormedUtf8(*text)) Fail("not UTF-8");
    if (text->size() > 3 * size + kUtf8Bom.size()) Fail("more than the room taken for it");
    const bool bom = StartsWith(*text, kUtf8Bom);
    if (bom != withBom) Fail("a BOM where none was asked for, or none where one was");
  }
  return 0;
}
