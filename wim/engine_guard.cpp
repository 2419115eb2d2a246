#include "wim/engine_guard.h"

#include "core/message_box.h"
#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace wim {

namespace {

bool sameName(const std::string& a, const std::string& b, bool caseMatters) {
  return caseMatters ? a == b : gbk::toLowerAscii(a) == gbk::toLowerAscii(b);
}

constexpr unsigned kQuestionStyle = ui::kYesNo | ui::kIconExclamation | ui::kTaskModal;

}  // namespace

std::string captureBusyQuestion(const std::string& engineName) {
  return "检测到有其他" + engineName + "正在运行,是否终止？\r\n注意:如果不终止其他" + engineName +
         ",可能会影响系统备份。";
}

bool processExistsByName(platform::Processes& processes, const std::string& name, bool caseMatters) {
  return findProcessIdByName(processes, name, caseMatters) != 0;
}

unsigned long findProcessIdByName(platform::Processes& processes, const std::string& name, bool caseMatters) {
  for (const platform::ProcessEntry& entry : processes.list())
    if (sameName(entry.exeName, name, caseMatters)) return entry.pid;
  return 0;
}

bool terminateProcessByName(platform::Processes& processes, const std::string& name) {
  const unsigned long pid = findProcessIdByName(processes, name);
  return pid != 0 && processes.terminate(pid, 0);
}

void suspendProcess(platform::Processes& processes, unsigned long pid, bool suspendIt) {
  if (pid != 0) processes.suspend(pid, suspendIt);
}

std::string engineName(const core::AppState& state) { return core::fileNameOf(state.tools.enginePath); }

bool confirmNoOtherEngine(core::Context& ctx, ui::Window* owner, const std::string& question) {
  const std::string name = engineName(ctx.state);
  if (!processExistsByName(ctx.os.processes, name)) return true;
  if (core::showBox(ctx.ui, owner, question, kQuestionStyle) != ui::kAnswerYes) return false;
  terminateProcessByName(ctx.os.processes, name);
  return true;
}

bool askToStopEngine(core::Context& ctx, ui::Window* owner, const std::string& question, unsigned long enginePid) {
  suspendProcess(ctx.os.processes, enginePid, true);
  const bool stop = core::showBox(ctx.ui, owner, question, kQuestionStyle) == ui::kAnswerYes;
  suspendProcess(ctx.os.processes, enginePid, false);
  return stop;
}

}  // namespace wim
