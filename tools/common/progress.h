// How far a long piece of work has come, and whether the user asked it to stop: the
// one way the tools' engines report progress, whether a window shows it (the imaging
// engine, the ISO tool's copy) or lines on the console do (the WIM engine).
#pragma once

#include <cstdint>
#include <string>

namespace toolio {

class Progress {
 public:
  virtual ~Progress() = default;
  // done of total (bytes, or percent of 100); remainingMs is the library's own
  // estimate, -1 when it has none. The first report says the work has begun.
  virtual void report(std::uint64_t done, std::uint64_t total, std::int64_t remainingMs = -1) = 0;
  // What is being worked on now (a file's path, UTF-8).
  virtual void item(const std::string& name) { (void)name; }
  // True once the user asked to stop; asked from any of the work's threads. The work
  // then ends at its next safe point.
  virtual bool stopRequested() const { return false; }
};

// For work nobody watches.
class NoProgress : public Progress {
 public:
  void report(std::uint64_t, std::uint64_t, std::int64_t) override {}
};

}  // namespace toolio
