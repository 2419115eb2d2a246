#include "platform/ui.h"

namespace ui {

void checkHandlers(const WindowSpec& spec, const std::vector<Handler>& handlers) {
  for (const Handler& h : handlers) {
    bool found = false;
    if (h.event == Event::Timer) {
      for (const TimerSpec& t : spec.timers) found = found || t.name == h.source;
    } else if (h.event == Event::DevicesChanged) {
      found = h.source.empty();
    } else {
      for (const ControlSpec& c : spec.controls) found = found || c.name == h.source;
    }
    if (!found)
      throw TableError("window \"" + spec.caption + "\": handler for unknown " +
                       (h.event == Event::Timer ? "timer " : h.event == Event::DevicesChanged ? "source of a window event " : "control ") +
                       h.source);
  }
}

const Handler* findHandler(const std::vector<Handler>& handlers, std::string_view source, Event event) {
  for (const Handler& h : handlers)
    if (h.event == event && h.source == source) return &h;
  return nullptr;
}

std::size_t timerIndex(const WindowSpec& spec, std::string_view name) {
  for (std::size_t i = 0; i < spec.timers.size(); ++i)
    if (spec.timers[i].name == name) return i;
  throw TableError("window \"" + spec.caption + "\": no timer named " + std::string(name));
}

}  // namespace ui
