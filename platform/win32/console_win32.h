// The hidden long-lived command interpreter with piped input and output.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"

namespace win32 {

class Console : public platform::ConsoleHost {
 public:
  Console();
  ~Console() override;
  unsigned long open(const std::string& commandLine, const std::string& currentDirectory) override;
  bool isOpen() const override;
  unsigned long processId() const override;
  long writeInput(std::string_view bytes) override;
  long writeOutput(std::string_view bytes) override;
  bool inputPending() override;
  unsigned long startReader(std::function<void()> wake) override;
  std::vector<std::string> takeOutput(unsigned long reader) override;
  void detachReader(unsigned long reader) override;
  bool close() override;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace win32
