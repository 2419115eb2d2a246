#include "tools/ghost/progress_window_win32.h"

#include <windows.h>
#include <commctrl.h>

#include "tools/common/codepage_win32.h"
#include "tools/common/handles_win32.h"
#include "tools/common/utf.h"

namespace ghost {

namespace {

const wchar_t kClassName[] = L"GhostVrelLiteProgress";
constexpr UINT kWorkDone = WM_APP + 1;
constexpr UINT_PTR kRefreshTimer = 1;

enum ControlId { kAction = 100, kFrom, kTo, kBar, kPercent, kSpeed, kElapsed, kRemaining, kStop };

// The window uses the wide API so that paths in any language show correctly.
std::wstring fromGbk(std::string_view text) { return toolio::wideFromGbk(text); }

std::wstring partitionText(const std::string& designator) {
  std::size_t colon = designator.find(':');
  return fromGbk("磁盘 ") + toolio::wideFromUtf8(designator.substr(0, colon)) + fromGbk(" 分区 ") +
         toolio::wideFromUtf8(designator.substr(colon + 1));
}

struct WindowState {
  const WindowTexts* texts = nullptr;
  RunProgress* progress = nullptr;
  const std::function<void()>* work = nullptr;
  HFONT font = nullptr;
  DWORD startTick = 0;
  bool stopping = false;
};

HWND addControl(HWND parent, const wchar_t* kind, const std::wstring& text, DWORD style, int id, int x, int y,
                int w, int h, HFONT font) {
  HWND control = CreateWindowExW(0, kind, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                 nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void refresh(HWND hwnd, WindowState& state) {
  RunProgress& progress = *state.progress;
  if (!progress.started) return;
  std::uint64_t done = progress.doneBytes;
  std::uint64_t total = progress.totalBytes;
  ProgressTexts t = progressTexts(done, total, std::int64_t(GetTickCount() - state.startTick));
  SendDlgItemMessageW(hwnd, kBar, PBM_SETPOS, WPARAM(t.percent * 10), 0);
  SetDlgItemTextW(hwnd, kPercent, (fromGbk("已完成: ") + fromGbk(t.percentText)).c_str());
  SetDlgItemTextW(hwnd, kSpeed, (fromGbk("速度: ") + fromGbk(t.speed)).c_str());
  SetDlgItemTextW(hwnd, kElapsed, (fromGbk("已用时间: ") + fromGbk(t.elapsed)).c_str());
  SetDlgItemTextW(hwnd, kRemaining, (fromGbk("剩余时间: ") + fromGbk(t.remaining)).c_str());
}

DWORD WINAPI workThread(LPVOID parameter) {
  auto* state = static_cast<WindowState*>(parameter);
  (*state->work)();
  return 0;
}

void askToStop(HWND hwnd, WindowState& state) {
  if (state.stopping) return;
  int answer = MessageBoxW(hwnd, state.texts->stopQuestion.c_str(), fromGbk("提示").c_str(),
                           MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  if (answer != IDYES || state.stopping) return;
  state.stopping = true;
  state.progress->stopRequested = true;
  SetDlgItemTextW(hwnd, kStop, fromGbk("正在停止…").c_str());
  EnableWindow(GetDlgItem(hwnd, kStop), FALSE);
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_CREATE: {
      state = static_cast<WindowState*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
      const WindowTexts& t = *state->texts;
      HFONT f = state->font;
      // Paths are shown as they are: without SS_NOPREFIX an "&" in a file name would
      // vanish and underline the next character.
      addControl(hwnd, L"STATIC", t.action, SS_LEFT, kAction, 16, 14, 440, 18, f);
      addControl(hwnd, L"STATIC", t.from, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kFrom, 16, 40, 440, 18, f);
      addControl(hwnd, L"STATIC", t.to, SS_LEFT | SS_NOPREFIX | SS_PATHELLIPSIS, kTo, 16, 62, 440, 18, f);
      HWND bar = addControl(hwnd, PROGRESS_CLASSW, L"", 0, kBar, 16, 90, 440, 20, f);
      SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
      addControl(hwnd, L"STATIC", fromGbk("已完成: 0%"), SS_LEFT, kPercent, 16, 120, 210, 18, f);
      addControl(hwnd, L"STATIC", fromGbk("速度: -- MB/秒"), SS_LEFT, kSpeed, 240, 120, 216, 18, f);
      addControl(hwnd, L"STATIC", fromGbk("已用时间: 00:00:00"), SS_LEFT, kElapsed, 16, 142, 210, 18, f);
      addControl(hwnd, L"STATIC", fromGbk("剩余时间: --:--:--"), SS_LEFT, kRemaining, 240, 142, 216, 18, f);
      addControl(hwnd, L"BUTTON", fromGbk("停止(&S)"), BS_PUSHBUTTON | WS_TABSTOP, kStop, 356, 172, 100, 28, f);
      SetTimer(hwnd, kRefreshTimer, 250, nullptr);
      return 0;
    }
    case WM_TIMER:
      if (state) refresh(hwnd, *state);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kStop && state) askToStop(hwnd, *state);
      return 0;
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

}  // namespace

WindowTexts windowTextsFor(const Command& command) {
  WindowTexts t;
  std::wstring image = fromGbk("映像文件: ") + toolio::wideFromUtf8(command.imagePath);
  switch (command.mode) {
    case Mode::Restore:
      t.title = fromGbk("GhostVrelLite - 还原分区");
      t.action = fromGbk("正在把映像还原到分区,请稍候…");
      t.from = image;
      t.to = fromGbk("目标分区: ") + partitionText(command.partition);
      t.stopQuestion = fromGbk("确定要停止还原吗?\r\n停止后目标分区中的数据将不完整,不能使用。");
      break;
    case Mode::Backup:
      t.title = fromGbk("GhostVrelLite - 备份分区");
      t.action = fromGbk("正在把分区备份为映像文件,请稍候…");
      t.from = fromGbk("源分区: ") + partitionText(command.partition);
      t.to = image;
      t.stopQuestion = fromGbk("确定要停止备份吗?\r\n停止后不会留下映像文件。");
      break;
    case Mode::Check:
      t.title = fromGbk("GhostVrelLite - 检查映像");
      t.action = fromGbk("正在检查映像文件的完整性,请稍候…");
      t.from = image;
      t.stopQuestion = fromGbk("确定要停止检查吗?");
      break;
  }
  return t;
}

void runWithProgressWindow(const WindowTexts& texts, RunProgress& progress, const std::function<void()>& work) {
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
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  WindowState state;
  state.texts = &texts;
  state.progress = &progress;
  state.work = &work;
  state.startTick = GetTickCount();
  // SimSun at 9 points, as a Chinese WinPE shows its own dialogs.
  state.font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, fromGbk("宋体").c_str());
  if (!state.font) state.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  RECT rect{0, 0, 472, 214};
  AdjustWindowRect(&rect, style, FALSE);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST, kClassName, texts.title.c_str(), style, x, y, width, height, nullptr,
                              nullptr, instance, &state);
  if (hwnd) {
    // The program starts the engine with a hidden show state; the first ShowWindow
    // would inherit it, so the window is shown explicitly.
    ShowWindow(hwnd, SW_HIDE);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    UpdateWindow(hwnd);
    SetForegroundWindow(hwnd);
  }

  toolio::UniqueHandle worker(CreateThread(nullptr, 0, workThread, &state, 0, nullptr));
  HANDLE thread = worker.get();
  if (!worker) {
    work();  // no thread: the work still runs, without a live window
    if (hwnd) DestroyWindow(hwnd);
  } else if (!hwnd) {
    WaitForSingleObject(thread, INFINITE);
  } else {
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

}  // namespace ghost
