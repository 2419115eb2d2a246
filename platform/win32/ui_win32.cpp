#include "platform/win32/ui_win32.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dbt.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "platform/gbk.h"
#include "platform/win32/handles_win32.h"

namespace win32 {
namespace {

const char kWindowClass[] = "VrelPELiteWindow";
constexpr int kFirstControlId = 1000;
// Asks the window to run the actions other threads have posted to it.
constexpr UINT kRunPostedMessage = WM_APP + 1;

HFONT uiFont() {
  static HFONT font = [] {
    // SimSun at 9 points is what a Chinese WinPE shows in its own dialogs.
    HFONT f = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
    return f ? f : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  }();
  return font;
}

class Win32Window;

// A programming error in a window's tables: said once, loudly, then the program ends,
// rather than a typo turning a control into a silent no-op.
[[noreturn]] void tableError(const std::string& what) {
  OutputDebugStringA(what.c_str());
  std::fprintf(stderr, "%s\n", what.c_str());
  if (!GetEnvironmentVariableA("VREL_TABLE_ERRORS_QUIET", nullptr, 0))
    MessageBoxA(nullptr, what.c_str(), "VrelPE Lite", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  ExitProcess(3);
}

// Set while the program itself changes a control: the notifications Windows sends
// for such changes are not the user's and raise no events.
struct Quiet {
  int& depth;
  explicit Quiet(int& d) : depth(d) { ++depth; }
  ~Quiet() { --depth; }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
};

class Win32Control : public ui::Control {
 public:
  Win32Control(const ui::ControlSpec& spec, HWND hwnd, int& quiet) : spec_(spec), hwnd_(hwnd), quiet_(quiet) {}
  const ui::ControlSpec& spec() const { return spec_; }
  HWND hwnd() const { return hwnd_; }
  bool isListView() const { return spec_.kind == ui::Kind::ListView; }
  bool isCombo() const { return spec_.kind == ui::Kind::ComboBox || spec_.kind == ui::Kind::DropDownList; }
  bool isListBox() const { return spec_.kind == ui::Kind::ListBox; }
  bool isStatus() const { return spec_.kind == ui::Kind::StatusBar; }
  const std::function<std::optional<ui::Colour>(int, int)>& colours() const { return colours_; }

  LRESULT send(UINT msg, WPARAM w = 0, LPARAM l = 0) const {
    Quiet q(quiet_);
    return SendMessageA(hwnd_, msg, w, l);
  }

  std::string text() const override {
    int n = GetWindowTextLengthA(hwnd_);
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    n = GetWindowTextA(hwnd_, s.data(), n + 1);
    s.resize(n > 0 ? n : 0);
    return s;
  }
  void setText(std::string_view t) override {
    Quiet q(quiet_);
    SetWindowTextA(hwnd_, std::string(t).c_str());
  }
  void appendText(std::string_view t) override {
    int len = GetWindowTextLengthA(hwnd_);
    send(EM_SETSEL, len, len);
    send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(std::string(t).c_str()));
  }
  bool enabled() const override { return IsWindowEnabled(hwnd_) != 0; }
  void setEnabled(bool on) override { EnableWindow(hwnd_, on); }
  bool visible() const override { return (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0; }
  void setVisible(bool on) override { ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE); }
  bool checked() const override { return send(BM_GETCHECK) == BST_CHECKED; }
  void setChecked(bool on) override { send(BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED); }
  void focus() override { SetFocus(hwnd_); }

  int count() const override {
    if (isCombo()) return static_cast<int>(send(CB_GETCOUNT));
    if (isListBox()) return static_cast<int>(send(LB_GETCOUNT));
    if (isStatus()) return static_cast<int>(send(SB_GETPARTS, 0, 0));
    return 0;
  }
  std::string itemText(int i) const override {
    UINT lenMsg = isCombo() ? CB_GETLBTEXTLEN : isListBox() ? LB_GETTEXTLEN : 0;
    UINT getMsg = isCombo() ? CB_GETLBTEXT : isListBox() ? LB_GETTEXT : 0;
    if (isStatus()) {
      // The length may count characters, not bytes (Wine's control does), while the
      // text comes back in the ANSI code page, two bytes for each Chinese character:
      // room for both, then cut at the terminating zero.
      int n = LOWORD(send(SB_GETTEXTLENGTHA, i));
      std::string s(2 * static_cast<std::size_t>(n) + 2, '\0');
      send(SB_GETTEXTA, i, reinterpret_cast<LPARAM>(s.data()));
      s.resize(std::strlen(s.c_str()));
      return s;
    }
    if (!lenMsg) return {};
    LRESULT n = send(lenMsg, i);
    if (n < 0) return {};
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    LRESULT got = send(getMsg, i, reinterpret_cast<LPARAM>(s.data()));
    s.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return s;
  }
  int addItem(std::string_view t) override {
    std::string s(t);
    if (isCombo()) return static_cast<int>(send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
    if (isListBox()) return static_cast<int>(send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
    return -1;
  }
  void setItemText(int i, std::string_view t) override {
    std::string s(t);
    if (isStatus()) {
      send(SB_SETTEXTA, i, reinterpret_cast<LPARAM>(s.c_str()));
    } else if (isCombo()) {
      int sel = selection();
      send(CB_DELETESTRING, i);
      send(CB_INSERTSTRING, i, reinterpret_cast<LPARAM>(s.c_str()));
      if (sel == i) send(CB_SETCURSEL, i);
    } else if (isListBox()) {
      int sel = selection();
      send(LB_DELETESTRING, i);
      send(LB_INSERTSTRING, i, reinterpret_cast<LPARAM>(s.c_str()));
      if (sel == i) send(LB_SETCURSEL, i);
    }
  }
  void deleteItem(int i) override {
    if (isCombo()) send(CB_DELETESTRING, i);
    if (isListBox()) send(LB_DELETESTRING, i);
  }
  void clearItems() override {
    if (isCombo()) send(CB_RESETCONTENT);
    if (isListBox()) send(LB_RESETCONTENT);
  }
  int selection() const override {
    if (isCombo()) return static_cast<int>(send(CB_GETCURSEL));
    if (isListBox()) return static_cast<int>(send(LB_GETCURSEL));
    return -1;
  }
  void setSelection(int i) override {
    if (isCombo()) send(CB_SETCURSEL, i);
    if (isListBox()) send(LB_SETCURSEL, i);
  }
  int selectByPrefix(std::string_view t) override {
    std::string s(t);
    LRESULT r = CB_ERR;
    if (isCombo()) r = send(CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(s.c_str()));
    if (isListBox()) r = send(LB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(s.c_str()));
    return r < 0 ? -1 : static_cast<int>(r);
  }
  int caretIndex() const override { return isListBox() ? static_cast<int>(send(LB_GETCARETINDEX)) : -1; }

  int rowCount() const override { return isListView() ? static_cast<int>(send(LVM_GETITEMCOUNT)) : 0; }
  int addRow(std::string_view first, int icon) override {
    std::string s(first);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = rowCount();
    item.pszText = s.data();
    item.iImage = icon;
    return static_cast<int>(send(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  }
  void setCell(int row, int column, std::string_view t) override {
    std::string s(t);
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = s.data();
    send(LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  }
  std::string cell(int row, int column) const override {
    std::vector<char> buf(1024, '\0');
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buf.data();
    item.cchTextMax = static_cast<int>(buf.size());
    LRESULT n = send(LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    return std::string(buf.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  void deleteRow(int row) override { send(LVM_DELETEITEM, row); }
  void deleteAllRows() override { send(LVM_DELETEALLITEMS); }
  int rowIcon(int row) const override {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!send(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return -1;
    return item.iImage;
  }
  void setRowIcon(int row, int icon) override {
    LVITEMA item = {};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    item.iImage = icon;
    send(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  }
  int selectedRow() const override {
    return static_cast<int>(send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }
  void selectRow(int row) override {
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    send(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }
  std::uint32_t textColour() const override { return static_cast<std::uint32_t>(send(LVM_GETTEXTCOLOR)); }
  std::uint32_t backgroundColour() const override { return static_cast<std::uint32_t>(send(LVM_GETBKCOLOR)); }
  void setCellColours(std::function<std::optional<ui::Colour>(int, int)> source) override {
    colours_ = std::move(source);
  }
  void repaint() override {
    ShowWindow(hwnd_, SW_HIDE);
    ShowWindow(hwnd_, SW_SHOW);
  }

  int position() const override { return static_cast<int>(send(PBM_GETPOS)); }
  void setPosition(int p) override { send(PBM_SETPOS, p); }

 private:
  ui::ControlSpec spec_;
  HWND hwnd_;
  int& quiet_;
  std::function<std::optional<ui::Colour>(int, int)> colours_;
};

class Win32Window : public ui::Window {
 public:
  Win32Window(ui::WindowLogic& logic, HWND owner, bool modal) : logic_(logic), owner_(owner), modal_(modal) {
    InitializeCriticalSection(&postedLock_);
  }
  ~Win32Window() override { DeleteCriticalSection(&postedLock_); }
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  bool create();
  ui::WindowLogic& logic() { return logic_; }
  HWND hwnd() const { return hwnd_; }
  bool destroyed() const { return destroyed_; }
  bool modal() const { return modal_; }

  ui::Control& control(std::string_view name) override {
    auto it = byName_.find(std::string(name));
    if (it == byName_.end()) tableError("window \"" + logic_.spec().caption + "\": no control named " + std::string(name));
    return *it->second;
  }
  Win32Control* controlByName(std::string_view name) {
    auto it = byName_.find(std::string(name));
    return it == byName_.end() ? nullptr : it->second;
  }
  std::string caption() const override {
    // The configured name may be of any length.
    std::string s(static_cast<std::size_t>(GetWindowTextLengthA(hwnd_)) + 1, '\0');
    int n = GetWindowTextA(hwnd_, s.data(), static_cast<int>(s.size()));
    s.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return s;
  }
  void setCaption(std::string_view c) override { SetWindowTextA(hwnd_, std::string(c).c_str()); }
  int width() const override {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.right - r.left;
  }
  int height() const override {
    RECT r;
    GetWindowRect(hwnd_, &r);
    return r.bottom - r.top;
  }
  void setSize(int w, int h) override { SetWindowPos(hwnd_, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER); }
  bool visible() const override { return IsWindowVisible(hwnd_) != 0; }
  void setVisible(bool on) override { ShowWindow(hwnd_, on ? SW_SHOW : SW_HIDE); }
  bool setIconFromBytes(std::string_view bytes) override;
  void startTimer(std::string_view name) override {
    std::size_t i = timer(name);
    SetTimer(hwnd_, kFirstTimerId + i, logic_.spec().timers[i].intervalMs, nullptr);
    timersRunning_[i] = true;
  }
  void stopTimer(std::string_view name) override {
    std::size_t i = timer(name);
    KillTimer(hwnd_, kFirstTimerId + i);
    timersRunning_[i] = false;
  }
  bool timerRunning(std::string_view name) const override { return timersRunning_[timer(name)]; }
  void whenDestroyed(std::function<void()> action) override { destroyActions_.push_back(std::move(action)); }
  // Other threads reach the window only here: under its own lock, then a posted
  // message, so nothing of the window's state is touched off its thread.
  void post(std::function<void()> action) override {
    EnterCriticalSection(&postedLock_);
    posted_.push_back(std::move(action));
    LeaveCriticalSection(&postedLock_);
    PostMessageA(hwnd_, kRunPostedMessage, 0, 0);
  }
  void close() override {
    if (hwnd_ && !destroyed_) DestroyWindow(hwnd_);
  }
  std::uintptr_t nativeHandle() const override { return reinterpret_cast<std::uintptr_t>(hwnd_); }

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  static constexpr UINT_PTR kFirstTimerId = 1;
  std::size_t timer(std::string_view name) const {
    try {
      return ui::timerIndex(logic_.spec(), name);
    } catch (const ui::TableError& e) {
      tableError(e.what());
    }
  }
  void raise(std::string_view source, ui::Event event) {
    if (quiet_ > 0) return;
    if (const ui::Handler* h = ui::findHandler(handlers_, source, event)) h->run();
  }
  LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT customDraw(Win32Control& list, NMLVCUSTOMDRAW* cd);
  void createControls();

  ui::WindowLogic& logic_;
  HWND owner_;
  bool modal_;
  HWND hwnd_ = nullptr;
  bool destroyed_ = false;
  HICON icon_ = nullptr;
  std::vector<std::unique_ptr<Win32Control>> controls_;
  std::map<std::string, Win32Control*> byName_;
  std::map<int, Win32Control*> byId_;
  std::vector<ui::Handler> handlers_;
  std::vector<bool> timersRunning_;
  std::vector<std::function<void()>> destroyActions_;
  // Raised events are dropped while the program itself changes a control; only this
  // window's thread counts it.
  int quiet_ = 0;
  CRITICAL_SECTION postedLock_;
  std::vector<std::function<void()>> posted_;
  void runPosted();
};

void registerClassOnce() {
  static bool done = false;
  if (done) return;
  done = true;
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES |
                                              ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32Window::windowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(kAppIconId));
  if (!wc.hIcon) wc.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  RegisterClassExA(&wc);
}

bool Win32Window::create() {
  registerClassOnce();
  const ui::WindowSpec& s = logic_.spec();
  // No WS_CLIPCHILDREN: group boxes rely on the window painting the area beneath them.
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  int x = s.x, y = s.y;
  if (s.centred) {
    x = (GetSystemMetrics(SM_CXSCREEN) - s.w) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - s.h) / 2;
  }
  hwnd_ = CreateWindowExA(WS_EX_CONTROLPARENT, kWindowClass, s.caption.c_str(), style, x, y, s.w, s.h, owner_,
                          nullptr, GetModuleHandleA(nullptr), this);
  if (!hwnd_) return false;
  createControls();
  timersRunning_.assign(s.timers.size(), false);
  handlers_ = logic_.handlers();
  try {
    ui::checkHandlers(s, handlers_);
  } catch (const ui::TableError& e) {
    tableError(e.what());
  }
  return true;
}

struct ClassAndStyle {
  const char* cls;
  DWORD style;
  DWORD exStyle;
};

ClassAndStyle classFor(const ui::ControlSpec& c) {
  switch (c.kind) {
    case ui::Kind::Button: return {"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
    case ui::Kind::RadioButton:
      return {"BUTTON", BS_AUTORADIOBUTTON | WS_TABSTOP | ((c.flags & ui::kFirstInGroup) ? WS_GROUP : 0u), 0};
    case ui::Kind::CheckBox: return {"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 0};
    case ui::Kind::GroupBox: return {"BUTTON", BS_GROUPBOX, 0};
    // Labels show paths: an "&" in a file name must not turn into an underline.
    case ui::Kind::Label: return {"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case ui::Kind::Edit: return {"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ui::Kind::MultiLineEdit:
      return {"EDIT", ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ui::Kind::ComboBox: return {"COMBOBOX", CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP, 0};
    case ui::Kind::DropDownList: return {"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
    case ui::Kind::ListBox:
      return {"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case ui::Kind::ListView:
      // The row icons are one list shared by every list view: none may destroy it.
      return {WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS | WS_TABSTOP,
              WS_EX_CLIENTEDGE};
    case ui::Kind::ProgressBar: return {PROGRESS_CLASSA, 0, 0};
    case ui::Kind::StatusBar: return {STATUSCLASSNAMEA, 0, 0};
    case ui::Kind::Picture: return {"STATIC", SS_ICON, 0};
  }
  return {"STATIC", 0, 0};
}

HIMAGELIST rowIcons() {
  static HIMAGELIST list = [] {
    HIMAGELIST l = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 4, 0);
    HINSTANCE inst = GetModuleHandleA(nullptr);
    const LPCSTR stock[4] = {reinterpret_cast<LPCSTR>(IDI_WINLOGO), reinterpret_cast<LPCSTR>(IDI_APPLICATION),
                             reinterpret_cast<LPCSTR>(IDI_INFORMATION), reinterpret_cast<LPCSTR>(IDI_WARNING)};
    for (int i = 0; i < 4; ++i) {
      HICON icon = static_cast<HICON>(
          LoadImageA(inst, MAKEINTRESOURCEA(kRowIconFirstId + i), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
      if (!icon) icon = LoadIconA(nullptr, stock[i]);
      ImageList_AddIcon(l, icon);
    }
    return l;
  }();
  return list;
}

void Win32Window::createControls() {
  const ui::WindowSpec& s = logic_.spec();
  std::map<std::string, POINT> groupOrigin;
  int id = kFirstControlId;
  for (const ui::ControlSpec& c : s.controls) {
    int x = c.x, y = c.y;
    if (!c.parent.empty()) {
      // Controls of a group box are children of the window, placed inside the box,
      // so that their notifications reach the window.
      auto g = groupOrigin.find(c.parent);
      if (g != groupOrigin.end()) {
        x += g->second.x;
        y += g->second.y;
      }
    }
    if (c.kind == ui::Kind::GroupBox) groupOrigin[c.name] = POINT{x, y};
    ClassAndStyle cs = classFor(c);
    DWORD style = WS_CHILD | cs.style;
    if (!(c.flags & ui::kHidden)) style |= WS_VISIBLE;
    if (c.flags & ui::kDisabled) style |= WS_DISABLED;
    int h = c.h;
    // A combo box's height includes its drop-down list.
    if (c.kind == ui::Kind::ComboBox || c.kind == ui::Kind::DropDownList) h = c.h + 200;
    const char* caption = (c.kind == ui::Kind::ComboBox || c.kind == ui::Kind::DropDownList ||
                           c.kind == ui::Kind::ListBox || c.kind == ui::Kind::ListView)
                              ? ""
                              : c.caption.c_str();
    HWND hwnd = CreateWindowExA(cs.exStyle, cs.cls, caption, style, x, y, c.w, h, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(uiFont()), FALSE);
    if (byName_.count(c.name)) tableError("window \"" + s.caption + "\": two controls named " + c.name);
    auto control = std::make_unique<Win32Control>(c, hwnd, quiet_);
    Win32Control& ctl = *control;
    byName_[c.name] = control.get();
    byId_[id] = control.get();
    controls_.push_back(std::move(control));
    ++id;

    if (c.kind == ui::Kind::ListView) {
      SendMessageA(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
      for (std::size_t i = 0; i < c.columns.size(); ++i) {
        LVCOLUMNA col = {};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        col.fmt = c.columns[i].alignRight ? LVCFMT_RIGHT : LVCFMT_LEFT;
        col.cx = c.columns[i].width;
        col.pszText = const_cast<char*>(c.columns[i].text.c_str());
        col.iSubItem = static_cast<int>(i);
        SendMessageA(hwnd, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&col));
      }
      if (c.flags & ui::kRowIcons) SendMessageA(hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(rowIcons()));
    } else if (c.kind == ui::Kind::StatusBar) {
      std::vector<int> edges = c.paneWidths;
      if (edges.empty()) {
        // Without explicit edges the first pane fits its text and the second takes the rest.
        edges = {110, -1};
      }
      edges.resize(std::max(edges.size(), c.items.size()), -1);
      SendMessageA(hwnd, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
      for (std::size_t i = 0; i < c.items.size(); ++i)
        SendMessageA(hwnd, SB_SETTEXTA, i, reinterpret_cast<LPARAM>(c.items[i].c_str()));
    } else if (c.kind == ui::Kind::ComboBox || c.kind == ui::Kind::DropDownList || c.kind == ui::Kind::ListBox) {
      for (const std::string& item : c.items) ctl.addItem(item);
      if (c.initialSelection >= 0) ctl.setSelection(c.initialSelection);
    } else if (c.kind == ui::Kind::Picture) {
      SendMessageA(hwnd, STM_SETICON,
                   reinterpret_cast<WPARAM>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAppIconId))), 0);
    } else if (c.kind == ui::Kind::ProgressBar) {
      SendMessageA(hwnd, PBM_SETRANGE32, 0, 100);
    }
    if (c.flags & ui::kChecked) ctl.setChecked(true);
  }
}

bool Win32Window::setIconFromBytes(std::string_view bytes) {
  // An .ICO file: a 6-byte header, 16-byte directory entries, then the images.
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 8;
  };
  auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (bytes.size() < 6 || u16(0) != 0 || u16(2) != 1) return false;
  unsigned count = u16(4);
  if (count == 0 || bytes.size() < 6 + 16ull * count) return false;
  // Take the largest image up to 48 pixels; the window scales it for the caption.
  std::size_t best = 0;
  int bestSize = -1;
  for (unsigned i = 0; i < count; ++i) {
    std::size_t e = 6 + 16ull * i;
    int w = static_cast<unsigned char>(bytes[e]);
    if (w == 0) w = 256;
    if (w <= 48 && w > bestSize) {
      bestSize = w;
      best = e;
    }
  }
  if (bestSize < 0) best = 6;
  unsigned size = u32(best + 8), offset = u32(best + 12);
  if (offset >= bytes.size() || size > bytes.size() - offset) return false;
  std::vector<BYTE> image(bytes.begin() + offset, bytes.begin() + offset + size);
  HICON icon = CreateIconFromResourceEx(image.data(), size, TRUE, 0x00030000, 0, 0, LR_DEFAULTCOLOR);
  if (!icon) return false;
  SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  if (icon_) DestroyIcon(icon_);
  icon_ = icon;
  return true;
}

void Win32Window::runPosted() {
  EnterCriticalSection(&postedLock_);
  std::vector<std::function<void()>> actions;
  actions.swap(posted_);
  LeaveCriticalSection(&postedLock_);
  for (auto& action : actions) action();
}

LRESULT Win32Window::customDraw(Win32Control& list, NMLVCUSTOMDRAW* cd) {
  switch (cd->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYITEMDRAW;  // asks for the item and sub-item stages
    case CDDS_ITEMPREPAINT | CDDS_SUBITEM: {
      auto colour = list.colours()(static_cast<int>(cd->nmcd.dwItemSpec), cd->iSubItem);
      if (colour) {
        cd->clrText = colour->text;
        cd->clrTextBk = colour->background;
      } else {
        cd->clrText = RGB(0, 0, 0);
        cd->clrTextBk = list.backgroundColour();
      }
      return CDRF_DODEFAULT;
    }
  }
  return CDRF_DODEFAULT;
}

LRESULT CALLBACK Win32Window::windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcA(hwnd, msg, wParam, lParam);
  return self->handle(msg, wParam, lParam);
}

LRESULT Win32Window::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND: {
      auto it = byId_.find(LOWORD(wParam));
      if (it == byId_.end()) break;
      Win32Control& c = *it->second;
      const std::string name = c.spec().name;
      const ui::Kind kind = c.spec().kind;
      WORD code = HIWORD(wParam);
      if ((kind == ui::Kind::Button || kind == ui::Kind::RadioButton || kind == ui::Kind::CheckBox) &&
          code == BN_CLICKED)
        raise(name, ui::Event::Click);
      else if (c.isCombo() && code == CBN_SELCHANGE)
        raise(name, ui::Event::SelectionChanged);
      else if (c.isListBox() && code == LBN_SELCHANGE)
        raise(name, ui::Event::SelectionChanged);
      else if ((kind == ui::Kind::Edit || kind == ui::Kind::MultiLineEdit) && code == EN_CHANGE)
        raise(name, ui::Event::TextChanged);
      else if (kind == ui::Kind::ComboBox && code == CBN_EDITCHANGE)
        raise(name, ui::Event::TextChanged);
      return 0;
    }
    case WM_NOTIFY: {
      auto* hdr = reinterpret_cast<NMHDR*>(lParam);
      auto it = byId_.find(static_cast<int>(hdr->idFrom));
      if (it == byId_.end() || !it->second->isListView()) break;
      Win32Control& list = *it->second;
      if (hdr->code == NM_CUSTOMDRAW && list.colours())
        return customDraw(list, reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
      if (hdr->code == LVN_ITEMCHANGED) {
        auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED))
          raise(list.spec().name, ui::Event::RowSelected);
      }
      break;
    }
    case WM_TIMER: {
      // A timer stopped while its message was already queued does not fire.
      const std::size_t i = wParam - kFirstTimerId;
      if (i < timersRunning_.size() && timersRunning_[i]) raise(logic_.spec().timers[i].name, ui::Event::Timer);
      return 0;
    }
    case WM_DEVICECHANGE:
      // Broadcast to every top-level window; the other device events mean nothing here.
      if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVNODES_CHANGED)
        raise("", ui::Event::DevicesChanged);
      return TRUE;
    case kRunPostedMessage:
      if (!destroyed_) runPosted();
      return 0;
    case WM_CLOSE:
      if (logic_.onCloseRequested(*this)) close();
      return 0;
    case WM_DESTROY: {
      destroyed_ = true;
      timersRunning_.assign(timersRunning_.size(), false);
      auto actions = std::move(destroyActions_);
      for (auto& action : actions) action();
      if (!modal_) PostQuitMessage(0);
      return 0;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
      break;
  }
  return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

void dispatch(MSG& msg) {
  HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (top && IsDialogMessageA(top, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

// Keeps every live window so that the test hooks can find them by handle.
std::vector<Win32Window*>& liveWindows() {
  static std::vector<Win32Window*> windows;
  return windows;
}

struct LiveWindow {
  Win32Window* w;
  explicit LiveWindow(Win32Window* window) : w(window) { liveWindows().push_back(w); }
  ~LiveWindow() {
    auto& v = liveWindows();
    for (auto it = v.begin(); it != v.end(); ++it)
      if (*it == w) {
        v.erase(it);
        break;
      }
  }
};

// The window is shown at once, but takes no input until its creation handler (the
// start-up sequence, which pumps messages for seconds) has finished.
void showDisabledWhileCreating(Win32Window& window) {
  EnableWindow(window.hwnd(), FALSE);
  ShowWindow(window.hwnd(), SW_SHOW);
  UpdateWindow(window.hwnd());
  window.logic().onCreated(window);
  if (!window.destroyed()) EnableWindow(window.hwnd(), TRUE);
}

}  // namespace

void processPendingMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    dispatch(msg);
  }
}

WindowSystem::WindowSystem() { registerClassOnce(); }

int WindowSystem::runMain(ui::WindowLogic& logic) {
  Win32Window window(logic, nullptr, false);
  LiveWindow live(&window);
  if (!window.create()) return 1;
  showDisabledWhileCreating(window);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) dispatch(msg);
  return static_cast<int>(msg.wParam);
}

void WindowSystem::runModal(ui::WindowLogic& logic, ui::Window* owner) {
  HWND ownerHwnd = owner ? reinterpret_cast<HWND>(owner->nativeHandle()) : nullptr;
  Win32Window window(logic, ownerHwnd, true);
  LiveWindow live(&window);
  if (!window.create()) return;
  if (ownerHwnd) EnableWindow(ownerHwnd, FALSE);
  showDisabledWhileCreating(window);
  MSG msg;
  bool quit = false;
  while (!window.destroyed()) {
    if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
      quit = true;
      break;
    }
    dispatch(msg);
  }
  if (ownerHwnd) {
    EnableWindow(ownerHwnd, TRUE);
    SetForegroundWindow(ownerHwnd);
  }
  if (!window.destroyed()) window.close();
  if (quit) PostQuitMessage(static_cast<int>(msg.wParam));
}

int WindowSystem::messageBox(ui::Window* owner, std::string_view text, std::string_view title, unsigned style) {
  HWND ownerHwnd = owner ? reinterpret_cast<HWND>(owner->nativeHandle()) : nullptr;
  if (ownerHwnd && !IsWindowVisible(ownerHwnd)) ownerHwnd = nullptr;
  return MessageBoxA(ownerHwnd, std::string(text).c_str(), std::string(title).c_str(), style);
}

std::optional<std::string> WindowSystem::fileDialog(ui::Window* owner, const ui::FileDialogSpec& spec) {
  // "description|pattern" becomes the double-NUL-terminated filter the dialog wants.
  std::string filter = spec.filter;
  for (std::size_t i = 0; i < filter.size(); i += gbk::charLength(filter, i))
    if (filter[i] == '|') filter[i] = '\0';
  filter.append(2, '\0');
  std::vector<char> file(4096, '\0');
  spec.initialName.copy(file.data(), std::min<std::size_t>(spec.initialName.size(), file.size() - 1));
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner ? reinterpret_cast<HWND>(owner->nativeHandle()) : nullptr;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrTitle = spec.title.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  BOOL ok;
  if (spec.save) {
    // A backup never silently replaces an existing image.
    ofn.Flags |= OFN_OVERWRITEPROMPT;
    ok = GetSaveFileNameA(&ofn);
  } else {
    ofn.Flags |= OFN_FILEMUSTEXIST;
    ok = GetOpenFileNameA(&ofn);
  }
  if (!ok) return std::nullopt;
  return std::string(file.data());
}

void WindowSystem::processPendingMessages() { win32::processPendingMessages(); }

std::uintptr_t controlHandle(ui::Window& window, std::string_view name) {
  for (Win32Window* w : liveWindows())
    if (w == &window)
      if (Win32Control* c = w->controlByName(name)) return reinterpret_cast<std::uintptr_t>(c->hwnd());
  return 0;
}

ui::Window* windowFromHandle(std::uintptr_t hwnd) {
  for (Win32Window* w : liveWindows())
    if (reinterpret_cast<std::uintptr_t>(w->hwnd()) == hwnd && !w->destroyed()) return w;
  return nullptr;
}

}  // namespace win32
