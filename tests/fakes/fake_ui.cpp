#include "tests/fakes/fake_ui.h"

#include <stdexcept>

#include "platform/gbk.h"

namespace fake {

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
  if (spec.kind == ui::Kind::DropDownList || spec.kind == ui::Kind::ComboBox) {
    if (selection_ >= 0 && selection_ < count()) return items[selection_];
    return spec.kind == ui::Kind::ComboBox ? text_ : std::string();
  }
  return text_;
}
void Control::setText(std::string_view t) { text_ = t; }
std::string Control::itemText(int i) const {
  return i >= 0 && i < count() ? items[i] : std::string();
}
int Control::addItem(std::string_view t) {
  items.emplace_back(t);
  return count() - 1;
}
void Control::setItemText(int i, std::string_view t) {
  if (i >= 0 && i < count()) items[i] = t;
}
void Control::deleteItem(int i) {
  if (i < 0 || i >= count()) return;
  items.erase(items.begin() + i);
  if (selection_ == i) selection_ = -1;
  else if (selection_ > i) --selection_;
}
void Control::clearItems() {
  items.clear();
  selection_ = -1;
  caret = -1;
}
void Control::setSelection(int i) { selection_ = (i >= 0 && i < count()) ? i : -1; }
int Control::selectByPrefix(std::string_view t) {
  for (int i = 0; i < count(); ++i)
    if (gbk::startsWith(items[i], t, true)) {
      selection_ = i;
      return i;
    }
  return -1;
}
int Control::addRow(std::string_view first, int icon) {
  Row r;
  r.cells.resize(std::max<std::size_t>(spec.columns.size(), 1));
  r.cells[0] = first;
  r.icon = icon;
  rows.push_back(std::move(r));
  return rowCount() - 1;
}
void Control::setCell(int row, int col, std::string_view t) {
  if (row < 0 || row >= rowCount() || col < 0) return;
  if (static_cast<std::size_t>(col) >= rows[row].cells.size()) rows[row].cells.resize(col + 1);
  rows[row].cells[col] = t;
}
std::string Control::cell(int row, int col) const {
  if (row < 0 || row >= rowCount() || col < 0 || static_cast<std::size_t>(col) >= rows[row].cells.size())
    return {};
  return rows[row].cells[col];
}
void Control::deleteRow(int row) {
  if (row < 0 || row >= rowCount()) return;
  rows.erase(rows.begin() + row);
  if (selectedRow_ == row) selectedRow_ = -1;
}
void Control::deleteAllRows() {
  rows.clear();
  selectedRow_ = -1;
}
int Control::rowIcon(int row) const { return row >= 0 && row < rowCount() ? rows[row].icon : -1; }
void Control::setRowIcon(int row, int icon) {
  if (row >= 0 && row < rowCount()) rows[row].icon = icon;
}

Window::Window(WindowSystem& system, ui::WindowLogic& l) : logic(l), system_(system) {
  const ui::WindowSpec& s = logic.spec();
  caption_ = s.caption;
  width_ = s.w;
  height_ = s.h;
  for (const ui::ControlSpec& c : s.controls) controls.emplace(c.name, std::make_unique<Control>(c));
}

Control& Window::get(std::string_view name) {
  auto it = controls.find(name);
  if (it == controls.end()) throw std::out_of_range("no control named " + std::string(name));
  return *it->second;
}

bool Window::setIconFromBytes(std::string_view bytes) {
  icon = bytes;
  // An .ICO file starts with reserved 0 and type 1.
  return bytes.size() >= 6 && bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 1 && bytes[3] == 0;
}

void Window::close() {
  closed = true;
  visible_ = false;
}

void Window::click(std::string_view name) {
  Control& c = get(name);
  if (!c.enabled_ || !c.visible_) return;
  if (c.spec.kind == ui::Kind::CheckBox) c.checked_ = !c.checked_;
  if (c.spec.kind == ui::Kind::RadioButton) {
    for (auto& [n, other] : controls)
      if (other->spec.kind == ui::Kind::RadioButton && other->spec.parent == c.spec.parent)
        other->checked_ = false;
    c.checked_ = true;
  }
  logic.onEvent(*this, name, ui::Event::Click);
}

void Window::selectItem(std::string_view name, int index) {
  Control& c = get(name);
  c.setSelection(index);
  c.caret = index;
  logic.onEvent(*this, name, ui::Event::SelectionChanged);
}

void Window::selectRowOf(std::string_view name, int row) {
  get(name).selectedRow_ = row;
  logic.onEvent(*this, name, ui::Event::RowSelected);
}

bool Window::requestClose() {
  if (!logic.onCloseRequested(*this)) return false;
  close();
  return true;
}

Window& WindowSystem::create(ui::WindowLogic& logic) {
  windows.push_back(std::make_unique<Window>(*this, logic));
  Window& w = *windows.back();
  logic.onCreated(w);
  return w;
}

int WindowSystem::runMain(ui::WindowLogic& logic) {
  create(logic);
  return 0;
}

void WindowSystem::runModal(ui::WindowLogic& logic, ui::Window*) {
  Window& w = create(logic);
  if (!w.closed && onModal) onModal(w);
  w.closed = true;
}

int WindowSystem::messageBox(ui::Window*, std::string_view text, std::string_view title, unsigned style) {
  boxes.push_back({std::string(text), std::string(title), style});
  if ((style & 0xF) == ui::kYesNo) {
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
