#include "tests/wine/wine_support.h"

#include <cstdio>
#include <vector>

#include "platform/win32/handles_win32.h"

namespace winetest {

std::string programFolder() {
  char buf[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, buf, MAX_PATH);
  std::string p = buf;
  return p.substr(0, p.find_last_of('\\') + 1);
}

std::string readWholeFile(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

bool pumpUntil(const std::function<bool()>& done, unsigned timeoutMs) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    win32::processPendingMessages();
  }
  return true;
}

static bool captureDib(HWND hwnd, bool wholeWindow, std::vector<unsigned char>& pixels, int& w, int& h) {
  RECT r, onScreen;
  GetWindowRect(hwnd, &onScreen);
  if (wholeWindow) {
    r = onScreen;
    OffsetRect(&r, -r.left, -r.top);
  } else {
    GetClientRect(hwnd, &r);
  }
  w = r.right;
  h = r.bottom;
  if (w <= 0 || h <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, bmp);
  if (wholeWindow) {
    // What the screen shows, children included (printing the window skips them).
    SetForegroundWindow(hwnd);
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    pumpUntil([] { return false; }, 300);
    BitBlt(mem, 0, 0, w, h, screen, onScreen.left, onScreen.top, SRCCOPY);
  } else {
    HDC src = GetDC(hwnd);
    BitBlt(mem, 0, 0, w, h, src, 0, 0, SRCCOPY);
    ReleaseDC(hwnd, src);
  }
  GdiFlush();
  pixels.assign(static_cast<unsigned char*>(bits), static_cast<unsigned char*>(bits) + 4 * w * h);
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return true;
}

bool saveWindowPicture(HWND hwnd, const std::string& path) {
  std::vector<unsigned char> px;
  int w, h;
  if (!captureDib(hwnd, true, px, w, h)) return false;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  int stride = (w * 3 + 3) & ~3;
  BITMAPFILEHEADER fh = {};
  BITMAPINFOHEADER ih = {};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof ih;
  fh.bfSize = fh.bfOffBits + stride * h;
  ih.biSize = sizeof ih;
  ih.biWidth = w;
  ih.biHeight = h;
  ih.biPlanes = 1;
  ih.biBitCount = 24;
  std::fwrite(&fh, sizeof fh, 1, f);
  std::fwrite(&ih, sizeof ih, 1, f);
  std::vector<unsigned char> row(stride, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) row[x * 3 + c] = px[(y * w + x) * 4 + c];
    std::fwrite(row.data(), 1, stride, f);
  }
  std::fclose(f);
  return true;
}

int redPixels(HWND hwnd, const RECT& area) {
  std::vector<unsigned char> px;
  int w, h;
  if (!captureDib(hwnd, false, px, w, h)) return -1;
  int count = 0;
  for (int y = std::max<LONG>(area.top, 0); y < std::min<LONG>(area.bottom, h); ++y)
    for (int x = std::max<LONG>(area.left, 0); x < std::min<LONG>(area.right, w); ++x) {
      const unsigned char* p = &px[(y * w + x) * 4];  // B G R A
      if (p[2] > 180 && p[1] < 90 && p[0] < 90) ++count;
    }
  return count;
}

std::string artifactFolder() {
  char buf[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA("VREL_ARTIFACTS", buf, MAX_PATH);
  std::string dir = n > 0 && n < MAX_PATH ? std::string(buf, n) : programFolder();
  if (dir.back() != '\\') dir += '\\';
  return dir;
}

}  // namespace winetest
