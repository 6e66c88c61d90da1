#pragma once
// A plain-text notice for the student with one "OK" button, above all other
// windows. The text is shown literally, wrapped and scrollable.

#include <string>

namespace saalwacht::helpers {

// Window class of the notice; tests find the window by it.
inline constexpr const wchar_t* kMessageWindowClass = L"SaalwachtNachricht";

// Shows the notice and returns when the student has closed it.
int showMessageWindow(const std::wstring& title, const std::wstring& text);

// LF and lone CR become CR LF, the line break the edit control shows.
std::wstring withCrLf(const std::wstring& text);

}  // namespace saalwacht::helpers
