// What the terminal front end prints of texts that may come from the network (announced device
// names, request paths, the service's answers): control bytes are shown as visible escapes, so
// no text can move the cursor, clear the screen, set the window title or forge lines of output.
// Pure, safe from any thread.
#pragma once
#include <string>

namespace tovi::gui {

enum class LineBreaks { Keep, Escape };

// How the terminal reads bytes above 0x7F: as UTF-8, or in a charset of its own (ISO 8859,
// KOI8-R, ...), for which every byte 0x80 to 0x9F is a C1 control wherever it stands, also
// inside a well-formed UTF-8 sequence ("\xE2\x80\x9B", U+201B, ends in CSI).
enum class TerminalCharset { Utf8, Other };

// What the user's locale (LC_ALL, LC_CTYPE, LANG) says the terminal reads. A locale that names
// no charset (C, POSIX: ASCII) or one the system lacks says nothing: the program's texts are
// UTF-8, and Utf8 it is.
TerminalCharset LocaleTerminalCharset();

// C0 controls and DEL become "\x1B"-style escapes, and so do C1 controls: in their UTF-8 form
// (U+0080 to U+009F, "\xC2\x9B") and as single bytes 0x80 to 0x9F outside any well-formed
// sequence, which an 8-bit terminal would obey; for a terminal of another charset, every byte
// 0x80 to 0x9F. Tab stays. CR and LF stay with Keep (texts that have lines of their own:
// message boxes, Memo1) and are escaped with Escape (one-line captions).
std::string EscapeControls(const std::string& text, LineBreaks breaks, TerminalCharset charset);

}  // namespace tovi::gui
