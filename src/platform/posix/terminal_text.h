// What the terminal front end prints of texts that may come from the network (announced device
// names, request paths, the service's answers): control bytes are shown as visible escapes, so
// no text can move the cursor, clear the screen, set the window title or forge lines of output.
// Pure, safe from any thread.
#pragma once
#include <string>

namespace tovi::gui {

enum class LineBreaks { Keep, Escape };

// C0 controls and DEL become "\x1B"-style escapes, and so do C1 controls: in their UTF-8 form
// (U+0080 to U+009F, "\xC2\x9B") and as single bytes 0x80 to 0x9F outside any well-formed
// sequence, which an 8-bit terminal would obey. Tab stays. CR and LF stay with Keep (texts that
// have lines of their own: message boxes, Memo1) and are escaped with Escape (one-line captions).
std::string EscapeControls(const std::string& text, LineBreaks breaks);

}  // namespace tovi::gui
