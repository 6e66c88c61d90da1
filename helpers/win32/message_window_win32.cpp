#include "message_window_win32.h"

#include <windows.h>

namespace saalwacht::helpers {

namespace {

constexpr int kTextId = 100;
constexpr int kClientWidth = 560;
constexpr int kClientHeight = 320;
constexpr int kMargin = 12;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 30;

struct Fonts {
  HFONT text = nullptr;
};

void layout(HWND window) {
  RECT client{};
  ::GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  ::MoveWindow(::GetDlgItem(window, kTextId), kMargin, kMargin, width - 2 * kMargin,
               height - 3 * kMargin - kButtonHeight, TRUE);
  ::MoveWindow(::GetDlgItem(window, IDOK), width - kMargin - kButtonWidth, height - kMargin - kButtonHeight,
               kButtonWidth, kButtonHeight, TRUE);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      layout(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        ::DestroyWindow(window);
        return 0;
      }
      break;
    case WM_CLOSE:
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

std::wstring withCrLf(const std::wstring& text) {
  std::wstring result;
  result.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\r') {
      result += L"\r\n";
      if (i + 1 < text.size() && text[i + 1] == L'\n') ++i;
    } else if (c == L'\n') {
      result += L"\r\n";
    } else {
      result.push_back(c);
    }
  }
  return result;
}

int showMessageWindow(const std::wstring& title, const std::wstring& text) {
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hIcon = ::LoadIconW(nullptr, IDI_INFORMATION);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kMessageWindowClass;
  ::RegisterClassExW(&windowClass);

  const DWORD style = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
  const DWORD exStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME;
  RECT frame{0, 0, kClientWidth, kClientHeight};
  ::AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - width) / 2;
  const int y = work.top + ((work.bottom - work.top) - height) / 2;

  const HWND window = ::CreateWindowExW(exStyle, kMessageWindowClass, title.c_str(), style, x, y, width, height,
                                        nullptr, nullptr, instance, nullptr);
  if (!window) return 1;

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  HFONT font = nullptr;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    metrics.lfMessageFont.lfHeight = -16;
    font = ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  // Read-only edit control: long texts scroll, and nothing in the text is
  // taken as markup.
  const HWND textView = ::CreateWindowExW(
      WS_EX_CLIENTEDGE, L"EDIT", withCrLf(text).c_str(),
      WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 10, 10, window,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kTextId)), instance, nullptr);
  const HWND ok = ::CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0,
                                    10, 10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDOK)), instance,
                                    nullptr);
  if (font) {
    ::SendMessageW(textView, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    ::SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  layout(window);
  ::ShowWindow(window, SW_SHOWNORMAL);
  ::SetForegroundWindow(window);
  ::SetFocus(ok);

  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (::IsDialogMessageW(window, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  if (font) ::DeleteObject(font);
  return 0;
}

}  // namespace saalwacht::helpers
