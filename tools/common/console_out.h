// Console output for the carried tools.
//
// The program reads tool output through a pipe and only understands lines that end
// in CR LF, so every line is written with an explicit CR LF and the stream is put in
// binary mode on Windows (text mode would turn it into CR CR LF).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace toolio {

class LineSink {
 public:
  virtual ~LineSink() = default;
  // Writes text followed by CR LF and pushes it out at once: the reader polls the pipe.
  virtual void line(std::string_view text) = 0;
};

class ConsoleOut : public LineSink {
 public:
  explicit ConsoleOut(std::FILE* stream = stdout);
  void line(std::string_view text) override;

 private:
  std::FILE* stream_;
};

// Collects lines in memory, each with its CR LF, exactly as a ConsoleOut would write them.
class CapturedOut : public LineSink {
 public:
  void line(std::string_view text) override;
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace toolio
