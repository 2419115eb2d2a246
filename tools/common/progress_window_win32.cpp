// The progress window on Win32: created from the layout on the calling thread, whose
// message loop serves it while the work runs on a thread of its own; the figures are
// refreshed four times a second from what the work last reported.
#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "tools/common/handles_win32.h"
#include "tools/common/progress_window.h"
#include "tools/common/utf.h"

namespace toolio {

namespace {

constexpr UINT kWorkDone = WM_APP + 1;
constexpr UINT_PTR kRefreshTimer = 1;

const wchar_t* wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// What the work reports, kept for the window thread.
class SharedProgress : public Progress {
 public:
  void report(std::uint64_t done, std::uint64_t total, std::int64_t remainingMs) override {
    done_ = done;
    total_ = total;
    remainingMs_ = remainingMs;
    begun_ = true;
  }
  void item(const std::string& name) override {
    std::u16string text = utf8ToUtf16(name);
    AcquireSRWLockExclusive(&lock_);
    item_.swap(text);
    ReleaseSRWLockExclusive(&lock_);
  }
  bool stopRequested() const override { return stop_; }

  void requestStop() { stop_ = true; }
  ProgressMoment moment(std::int64_t elapsedMs) {
    ProgressMoment m;
    m.begun = begun_;
    m.done = done_;
    m.total = total_;
    m.remainingMs = remainingMs_;
    m.elapsedMs = elapsedMs;
    AcquireSRWLockShared(&lock_);
    m.item = item_;
    ReleaseSRWLockShared(&lock_);
    return m;
  }

 private:
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::uint64_t> total_{0};
  std::atomic<std::int64_t> remainingMs_{-1};
  std::atomic<bool> begun_{false};
  std::atomic<bool> stop_{false};
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::u16string item_;
};

struct WindowState {
  const ProgressWindowLayout* layout = nullptr;
  SharedProgress* progress = nullptr;
  const std::function<void(Progress&)>* work = nullptr;
  HFONT font = nullptr;
  DWORD startTick = 0;
  bool stopping = false;
};

DWORD styleOf(Shows shows) {
  switch (shows) {
    // Paths are shown as they are: without SS_NOPREFIX an "&" in a file name would
    // vanish and underline the next character.
    case Shows::Path:
    case Shows::Item: return SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS;
    case Shows::Bar: return 0;
    case Shows::StopButton: return BS_PUSHBUTTON | WS_TABSTOP;
    default: return SS_LEFT;
  }
}

const wchar_t* classOf(Shows shows) {
  return shows == Shows::Bar ? PROGRESS_CLASSW : shows == Shows::StopButton ? L"BUTTON" : L"STATIC";
}

bool isLive(Shows shows) { return shows != Shows::Text && shows != Shows::Path && shows != Shows::StopButton; }

void refresh(HWND hwnd, WindowState& state) {
  const ProgressMoment moment = state.progress->moment(std::int64_t(GetTickCount() - state.startTick));
  for (const WindowControl& control : state.layout->controls) {
    if (!isLive(control.shows)) continue;
    HWND child = GetDlgItem(hwnd, control.id);
    if (control.shows == Shows::Bar) {
      SendMessageW(child, PBM_SETPOS, WPARAM(barPermille(moment)), 0);
      continue;
    }
    // Unchanged texts are not set again: a repaint each time would flicker.
    const std::u16string text = liveText(control, moment);
    wchar_t shown[1024] = {};
    GetWindowTextW(child, shown, 1024);
    if (text != reinterpret_cast<const char16_t*>(shown)) SetWindowTextW(child, wide(text));
  }
}

DWORD WINAPI workThread(LPVOID parameter) {
  auto* state = static_cast<WindowState*>(parameter);
  (*state->work)(*state->progress);
  return 0;
}

const WindowControl* stopButton(const ProgressWindowLayout& layout) {
  for (const WindowControl& control : layout.controls)
    if (control.shows == Shows::StopButton) return &control;
  return nullptr;
}

void askToStop(HWND hwnd, WindowState& state) {
  if (state.stopping) return;
  // No is the default: an Enter pressed by chance must not throw the work away.
  int answer = MessageBoxW(hwnd, wide(state.layout->stopQuestion), L"提示", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDYES || state.stopping) return;
  state.stopping = true;
  state.progress->requestStop();
  if (const WindowControl* button = stopButton(*state.layout)) {
    if (!state.layout->stoppingCaption.empty()) SetDlgItemTextW(hwnd, button->id, wide(state.layout->stoppingCaption));
    EnableWindow(GetDlgItem(hwnd, button->id), FALSE);
  }
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      state = static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      const ProgressMoment start = state->progress->moment(0);
      for (const WindowControl& c : state->layout->controls) {
        HWND child = CreateWindowExW(0, classOf(c.shows), wide(liveText(c, start)),
                                     WS_CHILD | WS_VISIBLE | styleOf(c.shows), c.x, c.y, c.width, c.height, hwnd,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), GetModuleHandleW(nullptr),
                                     nullptr);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
        if (c.shows == Shows::Bar) SendMessageW(child, PBM_SETRANGE32, 0, 1000);
      }
      SetTimer(hwnd, kRefreshTimer, 250, nullptr);
      return 0;
    }
    case WM_TIMER:
      if (state) refresh(hwnd, *state);
      return 0;
    case WM_COMMAND: {
      const WindowControl* button = state ? stopButton(*state->layout) : nullptr;
      if (button && LOWORD(wParam) == button->id) askToStop(hwnd, *state);
      return 0;
    }
    case WM_CLOSE:
      // Closing the window is a request to stop, never a way to leave the work running.
      if (state) askToStop(hwnd, *state);
      return 0;
    case kWorkDone:
      KillTimer(hwnd, kRefreshTimer);
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

HWND openWindow(const ProgressWindowLayout& layout, WindowState& state) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = wide(layout.className);
  RegisterClassExW(&wc);

  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | (layout.minimizeBox ? WS_MINIMIZEBOX : 0);
  RECT rect{0, 0, layout.width, layout.height};
  AdjustWindowRect(&rect, style, FALSE);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, wide(layout.className), wide(layout.title), style, x, y, width, height,
                              nullptr, nullptr, instance, &state);
  if (!hwnd) return nullptr;
  // The program starts the tools with a hidden show state; the first ShowWindow
  // would inherit it, so the window is shown explicitly.
  ShowWindow(hwnd, SW_HIDE);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(hwnd);
  SetForegroundWindow(hwnd);
  return hwnd;
}

}  // namespace

void runWithProgressWindow(const ProgressWindowLayout& layout, const std::function<void(Progress&)>& work) {
  SharedProgress progress;
  WindowState state;
  state.layout = &layout;
  state.progress = &progress;
  state.work = &work;
  state.startTick = GetTickCount();
  // SimSun at 9 points, as a Chinese WinPE shows its own dialogs.
  state.font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体");
  if (!state.font) state.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  HWND hwnd = openWindow(layout, state);

  UniqueHandle worker(CreateThread(nullptr, 0, workThread, &state, 0, nullptr));
  if (!worker) {
    work(progress);  // no thread: the work still runs, without a live window
    if (hwnd) DestroyWindow(hwnd);
  } else if (!hwnd) {
    WaitForSingleObject(worker.get(), INFINITE);
  } else {
    HANDLE thread = worker.get();
    MSG msg;
    bool done = false;
    while (!done) {
      DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
      if (wait == WAIT_OBJECT_0) {
        PostMessageW(hwnd, kWorkDone, 0, 0);
        done = true;
      }
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) break;
        if (!IsDialogMessageW(hwnd, &msg)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
      }
    }
    // Drain until the window is gone.
    while (IsWindow(hwnd) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (state.font) DeleteObject(state.font);
}

}  // namespace toolio
