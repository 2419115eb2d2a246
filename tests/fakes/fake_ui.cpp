#include "tests/fakes/fake_ui.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "platform/gbk.h"

namespace fake {

using ui::Kind;

namespace {

const char* kindName(Kind k) {
  switch (k) {
    case Kind::Button: return "Button";
    case Kind::RadioButton: return "RadioButton";
    case Kind::CheckBox: return "CheckBox";
    case Kind::GroupBox: return "GroupBox";
    case Kind::Label: return "Label";
    case Kind::Edit: return "Edit";
    case Kind::MultiLineEdit: return "MultiLineEdit";
    case Kind::ComboBox: return "ComboBox";
    case Kind::DropDownList: return "DropDownList";
    case Kind::ListBox: return "ListBox";
    case Kind::ListView: return "ListView";
    case Kind::ProgressBar: return "ProgressBar";
    case Kind::StatusBar: return "StatusBar";
    case Kind::Picture: return "Picture";
  }
  return "?";
}

// The kinds each group of operations works on in the Win32 binding.
constexpr std::initializer_list<Kind> kCaptioned = {Kind::Button, Kind::RadioButton, Kind::CheckBox, Kind::GroupBox,
                                                    Kind::Label,  Kind::Edit,        Kind::MultiLineEdit,
                                                    Kind::ComboBox};
constexpr std::initializer_list<Kind> kReadable = {Kind::Button, Kind::RadioButton, Kind::CheckBox,
                                                   Kind::GroupBox, Kind::Label, Kind::Edit,
                                                   Kind::MultiLineEdit, Kind::ComboBox, Kind::DropDownList};
constexpr std::initializer_list<Kind> kEdits = {Kind::Edit, Kind::MultiLineEdit};
constexpr std::initializer_list<Kind> kCheckable = {Kind::RadioButton, Kind::CheckBox};
constexpr std::initializer_list<Kind> kLists = {Kind::ComboBox, Kind::DropDownList, Kind::ListBox};
constexpr std::initializer_list<Kind> kItemTexts = {Kind::ComboBox, Kind::DropDownList, Kind::ListBox,
                                                    Kind::StatusBar};
constexpr std::initializer_list<Kind> kListView = {Kind::ListView};
constexpr std::initializer_list<Kind> kListBox = {Kind::ListBox};
constexpr std::initializer_list<Kind> kProgress = {Kind::ProgressBar};

}  // namespace

const void* currentThread() {
  static thread_local char tag;
  return &tag;
}

void Control::require(std::initializer_list<Kind> kinds, const char* operation) const {
  if (currentThread() != thread) {
    // Another thread's exception would end the program anyway, without saying why.
    std::fprintf(stderr, "%s on %s from another thread than the window's\n", operation, spec.name.c_str());
    std::abort();
  }
  if (std::find(kinds.begin(), kinds.end(), spec.kind) != kinds.end()) return;
  throw std::logic_error(std::string(operation) + " on " + kindName(spec.kind) + " " + spec.name +
                         ": Windows ignores it");
}

Control::Control(const ui::ControlSpec& s) : spec(s) {
  text_ = s.caption;
  visible_ = !(s.flags & ui::kHidden);
  enabled_ = !(s.flags & ui::kDisabled);
  checked_ = (s.flags & ui::kChecked) != 0;
  items = s.items;
  selection_ = s.initialSelection;
  if (s.kind == ui::Kind::ListBox || s.kind == ui::Kind::ComboBox || s.kind == ui::Kind::DropDownList ||
      s.kind == ui::Kind::Edit || s.kind == ui::Kind::MultiLineEdit)
    text_ = s.kind == ui::Kind::Edit || s.kind == ui::Kind::MultiLineEdit ? s.caption : std::string();
}

std::string Control::text() const {
  require(kReadable, "text");
  if (spec.kind == ui::Kind::DropDownList || spec.kind == ui::Kind::ComboBox) {
    if (selection_ >= 0 && selection_ < count()) return items[selection_];
    return spec.kind == ui::Kind::ComboBox ? text_ : std::string();
  }
  return text_;
}
void Control::setText(std::string_view t) {
  require(kCaptioned, "setText");
  text_ = t;
}
void Control::appendText(std::string_view t) {
  require(kEdits, "appendText");
  text_.append(t);
}
bool Control::checked() const {
  require(kCheckable, "checked");
  return checked_;
}
void Control::setChecked(bool on) {
  require(kCheckable, "setChecked");
  checked_ = on;
}
int Control::count() const {
  require(kItemTexts, "count");
  return static_cast<int>(items.size());
}
int Control::selection() const {
  require(kLists, "selection");
  return selection_;
}
int Control::caretIndex() const {
  require(kListBox, "caretIndex");
  return caret;
}
int Control::rowCount() const {
  require(kListView, "rowCount");
  return static_cast<int>(rows.size());
}
int Control::selectedRow() const {
  require(kListView, "selectedRow");
  return selectedRow_;
}
void Control::selectRow(int row) {
  require(kListView, "selectRow");
  selectedRow_ = row >= 0 && row < rowCount() ? row : -1;
}
std::uint32_t Control::textColour() const {
  require(kListView, "textColour");
  return textColour_;
}
std::uint32_t Control::backgroundColour() const {
  require(kListView, "backgroundColour");
  return backgroundColour_;
}
void Control::setCellColours(std::function<std::optional<ui::Colour>(int, int)> source) {
  require(kListView, "setCellColours");
  colours = std::move(source);
}
int Control::position() const {
  require(kProgress, "position");
  return position_;
}
void Control::setPosition(int p) {
  require(kProgress, "setPosition");
  position_ = p;
}
std::string Control::itemText(int i) const {
  require(kItemTexts, "itemText");
  return i >= 0 && i < count() ? items[i] : std::string();
}
int Control::addItem(std::string_view t) {
  require(kLists, "addItem");
  items.emplace_back(t);
  return count() - 1;
}
void Control::setItemText(int i, std::string_view t) {
  require(kItemTexts, "setItemText");
  if (i >= 0 && i < count()) items[i] = t;
}
void Control::deleteItem(int i) {
  require(kLists, "deleteItem");
  if (i < 0 || i >= count()) return;
  items.erase(items.begin() + i);
  if (selection_ == i) selection_ = -1;
  else if (selection_ > i) --selection_;
}
void Control::clearItems() {
  require(kLists, "clearItems");
  items.clear();
  selection_ = -1;
  caret = -1;
}
void Control::setSelection(int i) {
  require(kLists, "setSelection");
  selection_ = (i >= 0 && i < count()) ? i : -1;
}
int Control::selectByPrefix(std::string_view t) {
  require(kLists, "selectByPrefix");
  for (int i = 0; i < count(); ++i)
    if (gbk::startsWith(items[i], t, true)) {
      selection_ = i;
      return i;
    }
  return -1;
}
int Control::addRow(std::string_view first, int icon) {
  require(kListView, "addRow");
  Row r;
  r.cells.resize(std::max<std::size_t>(spec.columns.size(), 1));
  r.cells[0] = first;
  r.icon = icon;
  rows.push_back(std::move(r));
  return rowCount() - 1;
}
void Control::setCell(int row, int col, std::string_view t) {
  require(kListView, "setCell");
  if (row < 0 || row >= rowCount() || col < 0) return;
  if (static_cast<std::size_t>(col) >= rows[row].cells.size()) rows[row].cells.resize(col + 1);
  rows[row].cells[col] = t;
}
std::string Control::cell(int row, int col) const {
  require(kListView, "cell");
  if (row < 0 || row >= rowCount() || col < 0 || static_cast<std::size_t>(col) >= rows[row].cells.size())
    return {};
  return rows[row].cells[col];
}
void Control::deleteRow(int row) {
  require(kListView, "deleteRow");
  if (row < 0 || row >= rowCount()) return;
  rows.erase(rows.begin() + row);
  if (selectedRow_ == row) selectedRow_ = -1;
  else if (selectedRow_ > row) --selectedRow_;
}
void Control::deleteAllRows() {
  require(kListView, "deleteAllRows");
  rows.clear();
  selectedRow_ = -1;
}
int Control::rowIcon(int row) const {
  require(kListView, "rowIcon");
  return row >= 0 && row < rowCount() ? rows[row].icon : -1;
}
void Control::setRowIcon(int row, int icon) {
  require(kListView, "setRowIcon");
  if (row >= 0 && row < rowCount()) rows[row].icon = icon;
}

Window::Window(WindowSystem& system, ui::WindowLogic& l, bool isModal)
    : logic(l), spec(l.spec()), modal(isModal), system_(system) {
  const ui::WindowSpec& s = spec;
  caption_ = s.caption;
  width_ = s.w;
  height_ = s.h;
  for (const ui::ControlSpec& c : s.controls)
    if (!controls.emplace(c.name, std::make_unique<Control>(c)).second)
      throw ui::TableError("window \"" + s.caption + "\": two controls named " + c.name);
  timers.assign(s.timers.size(), false);
  handlers = logic.handlers();
  ui::checkHandlers(s, handlers);
}

Control& Window::get(std::string_view name) {
  auto it = controls.find(name);
  if (it == controls.end()) throw ui::TableError("window \"" + spec.caption + "\": no control named " + std::string(name));
  return *it->second;
}

bool Window::setIconFromBytes(std::string_view bytes) {
  icon = bytes;
  // An .ICO file starts with reserved 0 and type 1.
  return bytes.size() >= 6 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0;
}

void Window::startTimer(std::string_view name) { timers[ui::timerIndex(spec, name)] = true; }
void Window::stopTimer(std::string_view name) { timers[ui::timerIndex(spec, name)] = false; }
bool Window::timerRunning(std::string_view name) const { return timers[ui::timerIndex(spec, name)]; }

void Window::post(std::function<void()> action) {
  system_.postedLock.lock();
  system_.posted.emplace_back(this, std::move(action));
  system_.postedLock.unlock();
}

void WindowSystem::runPosted() {
  std::vector<std::pair<Window*, std::function<void()>>> due;
  postedLock.lock();
  due.swap(posted);
  postedLock.unlock();
  for (auto& [window, action] : due)
    if (!window->closed()) action();
}

void Window::closeAs(ClosedBy who) {
  if (closed()) return;
  closedBy = who;
  visible_ = false;
  timers.assign(timers.size(), false);
  auto actions = std::move(destroyActions);
  for (auto& action : actions) action();
}

void Window::requireInput(std::string_view action) const {
  if (closed()) throw std::logic_error(std::string(action) + " on a closed window");
  if (!acceptsInput) throw std::logic_error(std::string(action) + " before the window takes input");
}

void Window::raise(std::string_view source, ui::Event event) {
  if (const ui::Handler* h = ui::findHandler(handlers, source, event)) h->run();
}

void Window::click(std::string_view name) {
  system_.runPosted();
  requireInput("click");
  Control& c = get(name);
  if (!c.enabled_ || !c.visible_) return;
  if (c.spec.kind == Kind::CheckBox) c.checked_ = !c.checked_;
  if (c.spec.kind == Kind::RadioButton) {
    for (auto& [n, other] : controls)
      if (other->spec.kind == Kind::RadioButton && other->spec.parent == c.spec.parent) other->checked_ = false;
    c.checked_ = true;
  }
  if (c.spec.kind == Kind::Button || c.spec.kind == Kind::CheckBox || c.spec.kind == Kind::RadioButton)
    raise(name, ui::Event::Click);
}

void Window::selectItem(std::string_view name, int index) {
  system_.runPosted();
  requireInput("selectItem");
  Control& c = get(name);
  c.require(kLists, "selectItem");
  c.setSelection(index);
  if (c.spec.kind == Kind::ListBox) c.caret = index;
  raise(name, ui::Event::SelectionChanged);
}

void Window::selectRowOf(std::string_view name, int row) {
  system_.runPosted();
  requireInput("selectRowOf");
  Control& c = get(name);
  c.selectRow(row);
  raise(name, ui::Event::RowSelected);
}

void Window::type(std::string_view name, std::string_view text) {
  system_.runPosted();
  requireInput("type");
  Control& c = get(name);
  c.require({Kind::Edit, Kind::MultiLineEdit, Kind::ComboBox}, "type");
  c.text_ = text;
  if (c.spec.kind == Kind::ComboBox) c.selection_ = -1;
  raise(name, ui::Event::TextChanged);
}

bool Window::requestClose() {
  system_.runPosted();
  requireInput("requestClose");
  if (!logic.onCloseRequested(*this)) return false;
  closeAs(ClosedBy::CaptionButton);
  return true;
}

void Window::fireTimer(std::string_view name) {
  system_.runPosted();
  if (closed()) throw std::logic_error("timer " + std::string(name) + " fired on a closed window");
  if (!timerRunning(name)) throw std::logic_error("timer " + std::string(name) + " is stopped");
  raise(name, ui::Event::Timer);
}

void Window::devicesChanged() {
  if (closed()) throw std::logic_error("device event on a closed window");
  raise("", ui::Event::DevicesChanged);
}

Window& WindowSystem::create(ui::WindowLogic& logic, bool modal) {
  windows.push_back(std::make_unique<Window>(*this, logic, modal));
  Window& w = *windows.back();
  logic.onCreated(w);
  w.acceptsInput = true;
  return w;
}

int WindowSystem::runMain(ui::WindowLogic& logic) {
  create(logic);
  return 0;
}

void WindowSystem::runModal(ui::WindowLogic& logic, ui::Window*) {
  windows.push_back(std::make_unique<Window>(*this, logic, true));
  Window& w = *windows.back();
  modalStack.push_back(&w);
  struct Pop {
    std::vector<Window*>& stack;
    ~Pop() { stack.pop_back(); }
  } pop{modalStack};
  logic.onCreated(w);
  w.acceptsInput = true;
  if (w.closed()) return;
  if (modalScripts.empty())
    throw std::logic_error("modal window \"" + w.caption_ + "\" opened with no script for it");
  auto script = std::move(modalScripts.front());
  modalScripts.pop_front();
  script(w);
  // A modal window nobody closes would hold the real program forever.
  if (!w.closed()) throw std::logic_error("modal window \"" + w.caption_ + "\" left open by its script");
}

int WindowSystem::messageBox(ui::Window*, std::string_view text, std::string_view title, unsigned style) {
  boxes.push_back({std::string(text), std::string(title), style});
  if ((style & 0xF) == ui::kYesNo) {
    if (whileAsking) std::exchange(whileAsking, nullptr)();
    if (answers.empty()) return ui::kAnswerYes;
    int a = answers.front();
    answers.pop_front();
    return a;
  }
  return ui::kAnswerOk;
}

std::optional<std::string> WindowSystem::fileDialog(ui::Window*, const ui::FileDialogSpec& spec) {
  dialogs.push_back(spec);
  if (dialogAnswers.empty()) return std::nullopt;
  auto a = dialogAnswers.front();
  dialogAnswers.pop_front();
  return a;
}

}  // namespace fake
