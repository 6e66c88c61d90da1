// swdkl: covers every monitor with a black window above all others and keeps
// keyboard and mouse from the student until the service ends the process.
// It defends its cover on events, not on a timer: an attempt to hide, move or
// lower a blank window is turned back as it is made, a window that comes to
// the front is covered again at once, a destroyed window is made anew, and a
// display change covers the new monitors. Only the service ends it.

#include <windows.h>

#include <vector>

namespace {

constexpr const wchar_t* kBlankClass = L"SaalwachtDunkel";
constexpr UINT kCoverAgain = WM_APP;
constexpr UINT kRaiseAgain = WM_APP + 1;

std::vector<HWND> gWindows;
std::vector<RECT> gAreas;
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
  if (window) {
    gWindows.push_back(window);
    gAreas.push_back(*rect);
  }
  return TRUE;
}

// The monitor area a blank window must keep.
const RECT* areaOf(HWND window) {
  for (std::size_t i = 0; i < gWindows.size(); ++i) {
    if (gWindows[i] == window) return &gAreas[i];
  }
  return nullptr;
}

void coverMonitors() {
  for (HWND window : gWindows) {
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 1);  // closing on purpose
    ::DestroyWindow(window);
  }
  gWindows.clear();
  gAreas.clear();
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
    case WM_WINDOWPOSCHANGING: {
      // Hidden, moved, resized or lowered by another program: not this way.
      auto* position = reinterpret_cast<WINDOWPOS*>(lParam);
      if (const RECT* area = areaOf(window)) {
        position->flags &= ~(SWP_HIDEWINDOW | SWP_NOZORDER);
        position->flags |= SWP_NOMOVE | SWP_NOSIZE;
        position->hwndInsertAfter = HWND_TOPMOST;
        position->x = area->left;
        position->y = area->top;
        position->cx = area->right - area->left;
        position->cy = area->bottom - area->top;
      }
      return 0;
    }
    case WM_WINDOWPOSCHANGED: {
      // Another topmost window went above ours: raise again, once the move is done.
      const bool topmost = (::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
      if (!topmost || !::IsWindowVisible(window)) ::PostMessageW(nullptr, kRaiseAgain, 0, 0);
      break;
    }
    case WM_DISPLAYCHANGE:
      ::PostMessageW(nullptr, kCoverAgain, 0, 0);  // monitors changed: cover them anew
      return 0;
    case WM_DESTROY:
      // Destroyed by someone else (not by coverMonitors): cover again.
      if (::GetWindowLongPtrW(window, GWLP_USERDATA) == 0) ::PostMessageW(nullptr, kCoverAgain, 0, 0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wParam, lParam);
}

// Another window came to the front, was shown or changed places: cover it.
void CALLBACK windowEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD) {
  if (object != OBJID_WINDOW || areaOf(window)) return;
  ::PostMessageW(nullptr, kRaiseAgain, 0, 0);
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
  // Other windows may come later; stay above them.
  ::SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, windowEvent, 0, 0,
                    WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  ::SetWinEventHook(EVENT_OBJECT_SHOW, EVENT_OBJECT_SHOW, nullptr, windowEvent, 0, 0,
                    WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  ::SetWinEventHook(EVENT_OBJECT_REORDER, EVENT_OBJECT_REORDER, nullptr, windowEvent, 0, 0,
                    WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
  raise();

  // A WM_QUIT posted by another program does not end the blanking: only the
  // service ends this process.
  MSG message{};
  for (;;) {
    const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
    if (got == -1) return 1;
    if (got == 0) continue;
    if (message.hwnd == nullptr && message.message == kCoverAgain) {
      coverMonitors();
      raise();
      continue;
    }
    if (message.hwnd == nullptr && message.message == kRaiseAgain) {
      raise();
      continue;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}
