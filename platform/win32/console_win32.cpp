#include "platform/win32/console_win32.h"

#include <windows.h>

#include <vector>

#include "platform/win32/handles_win32.h"

namespace win32 {
namespace {

// What the reader thread works with. It is shared between the thread and the shell:
// whoever lets go last frees it, so the lock never disappears under the thread.
// Output is kept, and wake called, only under `delivery` and only while `stopping`
// and `detached` are clear, so once they are set nothing reaches a window that may
// already be gone. The thread touches nothing else: the window's own thread takes
// the pieces.
struct Reader {
  HANDLE pipe = nullptr;  // owned by the reader once it runs
  CRITICAL_SECTION lock;
  CRITICAL_SECTION delivery;
  bool stopping = false;
  bool detached = false;  // output is read and dropped
  std::function<void()> wake;
  std::vector<std::string> pending;
  Reader() {
    InitializeCriticalSection(&lock);
    InitializeCriticalSection(&delivery);
  }
  ~Reader() {
    if (pipe) CloseHandle(pipe);
    DeleteCriticalSection(&delivery);
    DeleteCriticalSection(&lock);
  }
};

DWORD WINAPI consoleReaderThread(LPVOID param);

}  // namespace

struct Console::State {
  bool open = false;
  unsigned long pid = 0;
  UniqueHandle inputRead, inputWrite, outputRead, outputWrite, process;
  UniqueHandle readerThread;
  std::shared_ptr<Reader> reader;
  unsigned long readerNumber = 0;
  unsigned long readersStarted = 0;
  void stopReader();
  // Runs the action under the reader's delivery lock, which the reader holds only
  // for as long as it takes to keep a piece and post.
  void underDelivery(const std::function<void()>& action);
};

Console::Console() : s_(std::make_unique<State>()) {}
bool Console::isOpen() const { return s_->open; }
unsigned long Console::processId() const { return s_->pid; }

Console::~Console() {
  if (s_->open) close();
}

unsigned long Console::open(const std::string& commandLine, const std::string& currentDirectory) {
  if (s_->open) return s_->pid;
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  if (!CreatePipe(s_->inputRead.put(), s_->inputWrite.put(), &sa, 0)) return 0;
  if (!CreatePipe(s_->outputRead.put(), s_->outputWrite.put(), &sa, 0)) {
    s_->inputRead.reset();
    s_->inputWrite.reset();
    return 0;
  }
  // The parent's ends stay private, so the interpreter's children cannot keep them open.
  SetHandleInformation(s_->inputWrite.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(s_->outputRead.get(), HANDLE_FLAG_INHERIT, 0);

  // From zero, not from our own start-up information: its C-runtime fields
  // (cbReserved2, lpReserved2) must be zero for a child, and a parent's window
  // position or title have no business in a hidden shell.
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  si.wShowWindow = SW_HIDE;
  si.hStdInput = s_->inputRead.get();
  si.hStdOutput = s_->outputWrite.get();
  si.hStdError = s_->outputWrite.get();
  PROCESS_INFORMATION pi = {};
  std::vector<char> cmd(commandLine.begin(), commandLine.end());
  cmd.push_back('\0');
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &si, &pi)) {
    s_->inputRead.reset();
    s_->inputWrite.reset();
    s_->outputRead.reset();
    s_->outputWrite.reset();
    return 0;
  }
  CloseHandle(pi.hThread);
  s_->process.reset(pi.hProcess);
  s_->pid = pi.dwProcessId;
  s_->open = true;
  return s_->pid;
}

long Console::writeInput(std::string_view bytes) {
  if (!s_->open) return 0;
  DWORD written = 0;
  WriteFile(s_->inputWrite.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return static_cast<long>(written);
}

long Console::writeOutput(std::string_view bytes) {
  if (!s_->open) return 0;
  DWORD written = 0;
  WriteFile(s_->outputWrite.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  return static_cast<long>(written);
}

bool Console::inputPending() {
  if (!s_->open) return false;
  DWORD waiting = 0;
  return PeekNamedPipe(s_->inputRead.get(), nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;
}

namespace {
DWORD WINAPI consoleReaderThread(LPVOID param) {
  std::shared_ptr<Reader> r = std::move(*static_cast<std::shared_ptr<Reader>*>(param));
  delete static_cast<std::shared_ptr<Reader>*>(param);
  EnterCriticalSection(&r->lock);
  char buf[261];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(r->pipe, buf, 260, &got, nullptr) || got == 0) break;
    EnterCriticalSection(&r->delivery);
    const bool stop = r->stopping;
    if (!stop && !r->detached) {
      std::string piece;
      platform::appendChunk(piece, std::string_view(buf, got));
      const bool first = r->pending.empty();
      r->pending.push_back(std::move(piece));
      if (first && r->wake) r->wake();
    }
    LeaveCriticalSection(&r->delivery);
    if (stop) break;
  }
  LeaveCriticalSection(&r->lock);
  return 0;
}

}  // namespace

unsigned long Console::startReader(std::function<void()> wake) {
  if (!s_->open || s_->reader) return 0;
  auto reader = std::make_shared<Reader>();
  reader->wake = std::move(wake);
  auto* param = new std::shared_ptr<Reader>(reader);
  HANDLE thread = CreateThread(nullptr, 0, &consoleReaderThread, param, CREATE_SUSPENDED, nullptr);
  if (!thread) {
    delete param;
    return 0;
  }
  // The read end now belongs to the reader: it is closed when the reader is freed.
  reader->pipe = s_->outputRead.release();
  s_->reader = reader;
  s_->readerThread.reset(thread);
  s_->readerNumber = ++s_->readersStarted;
  ResumeThread(thread);
  return s_->readerNumber;
}

std::vector<std::string> Console::takeOutput(unsigned long number) {
  std::vector<std::string> pieces;
  if (!s_->reader || number == 0 || number != s_->readerNumber) return pieces;
  s_->underDelivery([&] { pieces.swap(s_->reader->pending); });
  return pieces;
}

void Console::detachReader(unsigned long number) {
  if (!s_->reader || number == 0 || number != s_->readerNumber) return;
  auto reader = s_->reader;
  s_->underDelivery([&] {
    reader->detached = true;
    // The wake may hold the window; let it go with it.
    reader->wake = nullptr;
    reader->pending.clear();
  });
}

void Console::State::underDelivery(const std::function<void()>& action) {
  EnterCriticalSection(&reader->delivery);
  action();
  LeaveCriticalSection(&reader->delivery);
}

void Console::State::stopReader() {
  if (!reader) return;
  // First make sure no further output is delivered.
  underDelivery([this] { reader->stopping = true; });
  // Then let the thread end: its read fails once the last writer is gone, or is
  // cancelled. A thread still blocked after that (a leftover child process holding the
  // pipe) is left to end by itself; it owns its share of the state.
  const DWORD start = GetTickCount();
  while (readerThread) {
    HANDLE h = readerThread.get();
    if (WaitForSingleObject(h, 50) == WAIT_OBJECT_0) break;
    CancelSynchronousIo(h);
    if (GetTickCount() - start > 3000) break;
  }
  readerThread.reset();
  reader.reset();
}

bool Console::close() {
  if (!s_->open) return false;
  // The interpreter (and with it the last writer of the output pipe) goes first, so
  // the reader's pending read ends with a broken pipe.
  bool ended = TerminateProcess(s_->process.get(), 3389) || WaitForSingleObject(s_->process.get(), 0) == WAIT_OBJECT_0;
  if (ended) WaitForSingleObject(s_->process.get(), 2000);
  s_->inputRead.reset();
  s_->inputWrite.reset();
  s_->outputWrite.reset();
  s_->stopReader();
  s_->outputRead.reset();  // when no reader took it
  // With its pipes gone the shell is of no further use even if the interpreter could
  // not be ended, so it is marked closed either way and may be opened afresh.
  s_->process.reset();
  s_->open = false;
  s_->pid = 0;
  return ended;
}

}  // namespace win32
