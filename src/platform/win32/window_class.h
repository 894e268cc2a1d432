// The class of the program's windows (win32 implementation only): the front end registers it,
// a second start looks for the first copy's windows by it.
#pragma once

namespace tovi::gui {

inline constexpr const wchar_t* kWindowClass = L"TRemoteToviplayerWindow";

}  // namespace tovi::gui
