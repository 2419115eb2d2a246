// A window's control table against the layout written out in a test: every control
// by name, kind, caption, position and parent group, in table order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"
#include "tests/support/gbk_text.h"

namespace layouttest {

struct Row {
  const char* name;
  ui::Kind kind;
  const char* caption;
  int x, y, w, h;
  const char* parent = "";
};

inline const ui::ControlSpec* find(const ui::WindowSpec& spec, const std::string& name) {
  for (const ui::ControlSpec& c : spec.controls)
    if (c.name == name) return &c;
  return nullptr;
}

inline void expectControls(const ui::WindowSpec& spec, const std::vector<Row>& rows) {
  ASSERT_EQ(spec.controls.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    const ui::ControlSpec& c = spec.controls[i];
    SCOPED_TRACE(r.name);
    EXPECT_EQ(c.name, r.name);
    EXPECT_EQ(c.kind, r.kind);
    EXPECT_GBK_EQ(r.caption, c.caption);
    EXPECT_EQ(std::vector<int>({c.x, c.y, c.w, c.h}), std::vector<int>({r.x, r.y, r.w, r.h}));
    EXPECT_EQ(c.parent, r.parent);
  }
}

inline void expectItems(const ui::WindowSpec& spec, const char* name, const std::vector<std::string>& items,
                        int selected) {
  const ui::ControlSpec* c = find(spec, name);
  ASSERT_NE(c, nullptr) << name;
  ASSERT_EQ(c->items.size(), items.size()) << name;
  for (std::size_t i = 0; i < items.size(); ++i) EXPECT_GBK_EQ(items[i], c->items[i]) << name << " " << i;
  EXPECT_EQ(c->initialSelection, selected) << name;
}

// The names whose controls start with the flag set; every other control has it clear.
inline void expectFlag(const ui::WindowSpec& spec, unsigned flag, const std::vector<std::string>& names) {
  for (const ui::ControlSpec& c : spec.controls) {
    bool listed = false;
    for (const std::string& n : names) listed = listed || n == c.name;
    EXPECT_EQ((c.flags & flag) != 0, listed) << c.name << " flag " << flag;
  }
}

// The window's timers by name and interval, in table order.
inline void expectTimers(const ui::WindowSpec& spec, const std::vector<std::pair<std::string, unsigned>>& timers) {
  ASSERT_EQ(spec.timers.size(), timers.size());
  for (std::size_t i = 0; i < timers.size(); ++i) {
    EXPECT_EQ(spec.timers[i].name, timers[i].first);
    EXPECT_EQ(spec.timers[i].intervalMs, timers[i].second) << timers[i].first;
  }
}

}  // namespace layouttest
