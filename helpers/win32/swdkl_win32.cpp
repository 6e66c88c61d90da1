// swdkl: covers every monitor with a black window above all others and keeps
// keyboard and mouse from the student until the service ends the process.

#include <windows.h>

#include <vector>

namespace {

constexpr const wchar_t* kBlankClass = L"SaalwachtDunkel";
constexpr UINT_PTR kRaiseTimer = 1;

std::vector<HWND> gWindows;
HHOOK gKeyboardHook = nullptr;
HHOOK gMouseHook = nullptr;

// Every key goes nowhere while the screen is blank.
LRESULT CALLBACK keyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION) return 1;
  return ::CallNextHookEx(gKeyboardHook, code, wParam, lParam);
}

// Clicks and wheel turns go nowhere; moves still pass, so the pointer can
// be hidden over the black windows.
LRESULT CALLBACK mouseHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam != WM_MOUSEMOVE) return 1;
  return ::CallNextHookEx(gMouseHook, code, wParam, lParam);
}

BOOL CALLBACK addMonitor(HMONITOR, HDC, LPRECT rect, LPARAM) {
  const HWND window = ::CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kBlankClass, L"", WS_POPUP | WS_VISIBLE,
                                        rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                                        nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
  if (window) gWindows.push_back(window);
  return TRUE;
}

void coverMonitors() {
  for (HWND window : gWindows) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 1);  // closing on purpose
    ::DestroyWindow(window);
  }
  gWindows.clear();
  ::EnumDisplayMonitors(nullptr, nullptr, addMonitor, 0);
  if (gWindows.empty()) {
    // No monitor list (some drivers): cover the whole virtual screen.
    RECT all{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN), 0, 0};
    all.right = all.left + ::GetSystemMetrics(SM_CXVIRTUALSCREEN);
    all.bottom = all.top + ::GetSystemMetrics(SM_CYVIRTUALSCREEN);
    addMonitor(nullptr, nullptr, &all, 0);
  }
}

void raise() {
  for (HWND window : gWindows) {
    ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  }
  if (!gWindows.empty()) ::SetForegroundWindow(gWindows.front());
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETCURSOR:
      ::SetCursor(nullptr);
      return TRUE;
    case WM_CLOSE:
      return 0;  // Alt+F4 and the like do not lift the blanking
    case WM_SYSCOMMAND:
      if ((wParam & 0xfff0) == SC_CLOSE || (wParam & 0xfff0) == SC_MINIMIZE) return 0;
      break;
    case WM_DISPLAYCHANGE:
      ::PostMessageW(nullptr, WM_APP, 0, 0);  // monitors changed: cover them anew
      return 0;
    case WM_DESTROY:
      // Destroyed by someone else (not by coverMonitors): cover again.
      if (::GetWindowLongPtrW(window, GWLP_USERDATA) == 0) ::PostMessageW(nullptr, WM_APP, 0, 0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  ::SetProcessDPIAware();
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kBlankClass;
  if (!::RegisterClassExW(&windowClass)) return 1;

  coverMonitors();
  if (gWindows.empty()) return 1;
  gKeyboardHook = ::SetWindowsHookExW(WH_KEYBOARD_LL, keyboardHook, instance, 0);
  gMouseHook = ::SetWindowsHookExW(WH_MOUSE_LL, mouseHook, instance, 0);
  // Other topmost windows may come later; stay above them.
  ::SetTimer(nullptr, kRaiseTimer, 500, nullptr);
  raise();

  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == WM_APP) {
      coverMonitors();
      raise();
      continue;
    }
    if (message.hwnd == nullptr && message.message == WM_TIMER) {
      raise();
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  return 0;
}
