#include "tools/iso/progress_window.h"

#include <commctrl.h>

#include <cstdio>

#include "tools/common/utf.h"

namespace iso {

namespace {

const wchar_t kClassName[] = L"VrelIsoCopyProgress";
constexpr int kCancelId = 101;
constexpr int kWidth = 440, kHeight = 170;

std::wstring megabytes(std::uint64_t bytes) {
  wchar_t text[64];
  swprintf(text, 64, L"%.1f MB", double(bytes) / 1048576.0);
  return text;
}

}  // namespace

CopyProgressWindow::CopyProgressWindow() = default;

CopyProgressWindow::~CopyProgressWindow() {
  if (window_) DestroyWindow(window_);
  if (font_) DeleteObject(font_);
}

LRESULT CALLBACK CopyProgressWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CopyProgressWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancelId && self) {
        // Asked once: the copy so far is thrown away.
        if (MessageBoxW(hwnd, L"确定要取消复制吗？已复制的文件将被删除。", L"提示",
                        MB_YESNO | MB_ICONQUESTION) == IDYES)
          self->cancelled_ = true;
        return 0;
      }
      break;
    case WM_CLOSE:  // the close box means cancel, with the same question
      SendMessageW(hwnd, WM_COMMAND, kCancelId, 0);
      return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool CopyProgressWindow::open() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&icc);
  WNDCLASSW wc{};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassW(&wc);

  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  RECT area{0, 0, kWidth, kHeight};
  AdjustWindowRect(&area, style, FALSE);
  int w = area.right - area.left, h = area.bottom - area.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  window_ = CreateWindowExW(WS_EX_TOPMOST, kClassName, L"ISO镜像 - 正在复制文件", style, x, y, w, h, nullptr, nullptr,
                            instance, nullptr);
  if (!window_) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"宋体");
  auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD extra, int cx, int cy, int cw, int ch, int id) {
    HWND c = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | extra, cx, cy, cw, ch, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    return c;
  };
  child(L"STATIC", L"ISO镜像无法直接挂载,正在复制其中的GHO和WIM文件,请稍候......", SS_LEFT, 16, 14, 408, 18, 0);
  fileLabel_ = child(L"STATIC", L"", SS_LEFT | SS_PATHELLIPSIS, 16, 40, 408, 18, 0);
  bar_ = child(PROGRESS_CLASSW, L"", 0, 16, 66, 408, 22, 0);
  SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
  amountLabel_ = child(L"STATIC", L"", SS_LEFT, 16, 96, 300, 18, 0);
  child(L"BUTTON", L"取  消", BS_PUSHBUTTON, 334, 128, 90, 28, kCancelId);

  ShowWindow(window_, SW_SHOWNORMAL);
  ShowWindow(window_, SW_SHOWNORMAL);  // the first call may take the starter's hidden state
  UpdateWindow(window_);
  return true;
}

bool CopyProgressWindow::update(std::uint64_t doneBytes, std::uint64_t totalBytes, const std::string& currentFile) {
  if (window_) {
    int permille = totalBytes ? int(doneBytes * 1000 / totalBytes) : 1000;
    if (permille != lastPermille_) {
      lastPermille_ = permille;
      SendMessageW(bar_, PBM_SETPOS, WPARAM(permille), 0);
      std::wstring amount = megabytes(doneBytes) + L" / " + megabytes(totalBytes) + L"  (" +
                            std::to_wstring(permille / 10) + L"%)";
      SetWindowTextW(amountLabel_, amount.c_str());
    }
    std::wstring file = L"正在复制: " + toolio::wideFromUtf8(currentFile);
    wchar_t shown[1024] = {};
    GetWindowTextW(fileLabel_, shown, 1024);
    if (file != shown) SetWindowTextW(fileLabel_, file.c_str());
  }
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return !cancelled_;
}

}  // namespace iso
