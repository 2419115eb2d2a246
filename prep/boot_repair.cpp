#include "prep/boot_repair.h"

#include <cstdio>

#include "core/message_box.h"
#include "core/operation_log.h"
#include "platform/gbk.h"
#include "prep/esp.h"
#include "runner/command_runner.h"

namespace prep {

namespace {

constexpr char kAddingBoot[] = "正在添加引导......";
constexpr char kBootDone[] = "创建引导成功！";
constexpr char kBootFailed[] = "创建引导失败！";
constexpr char kUnknownWindows[] = "未知Windows版本！";
constexpr char kBootSkipped[] = "已取消添加引导！";
constexpr char kRetryQuestion[] = "创建引导失败,是否使用批处理模式重试？\r\n错误信息:\r\n";
constexpr char kBootFailedDetails[] = "创建引导失败！\r\n错误信息:\r\n";
constexpr char kBootToolNotStarted[] = "无法启动命令解释器 cmd.exe,bootice 没有运行。\r\n";
constexpr char kNoBootTarget[] =
    "没有选择引导分区,未添加引导！\r\n请在“添加引导”右侧的列表中选择要写入引导文件的分区。";

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
  return text;
}

std::string interpreterPathOn(std::string_view letter) {
  return std::string(letter) + ":\\WINDOWS\\SYSTEM32\\CMD.EXE";
}

int ask(core::Context& ctx, ui::Window* owner, const std::string& text, unsigned style) {
  return core::showBox(ctx.ui, owner, text, style);
}

// On a GPT disk the firmware boots only from the ESP. False when the repair must
// stop here; the status and the message have been given.
bool bootTargetFitsUefi(core::Context& ctx, const core::Target& target, ui::Control& statusLabel,
                        const std::string& root, ui::Window* owner) {
  if (ctx.state.esp.searchedFor != target.targetDrive) findEspOf(ctx, target, nullptr, false);
  if (isEspRoot(ctx, root)) return true;
  if (ctx.state.esp.diskKnown && !ctx.state.esp.found) {
    statusLabel.setText(kBootFailed);
    ask(ctx, owner,
        "分区 " + target.targetDisplay +
            " 所在的GPT磁盘上没有EFI系统分区(ESP),无法创建UEFI引导！\r\n"
            "系统已经还原到该分区,只是缺少引导文件:请在磁盘上创建EFI系统分区后再添加引导。",
        ui::kOk | ui::kIconStop);
    return false;
  }
  const int answer = ask(ctx, owner,
                         "引导分区 " + root +
                             " 不是EFI系统分区(ESP),GPT磁盘上的UEFI固件不会从它启动。\r\n是否仍然在该分区上添加引导？",
                         ui::kYesNo | ui::kIconExclamation);
  if (answer == ui::kAnswerYes) return true;
  statusLabel.setText(kBootSkipped);
  return false;
}

// What a boot-tool run that failed said (the interpreter's words when the tool was
// missing), or empty when it succeeded: it ran and ended with exit code 0.
std::string bootToolFailure(const platform::CapturedRun& run) {
  if (!run.started) return kBootToolNotStarted;
  if (run.exitCode == 0) return {};
  if (run.output.empty()) return "bootice 以退出码 " + std::to_string(run.exitCode) + " 结束。\r\n";
  return run.output;
}

void offerBatchRetry(core::Context& ctx, const core::Target& target, ui::Control& statusLabel,
                     const ui::Control& bootTargetCombo, WindowsGeneration generation, const std::string& output,
                     ui::Window* owner) {
  statusLabel.setText(kBootFailed);
  if (ask(ctx, owner, kRetryQuestion + output, ui::kYesNo | ui::kIconStop) != ui::kAnswerYes) return;
  const std::string letter = target.targetDrive.substr(0, 1);
  const std::string path = retryBatchPath(ctx.os);
  const std::string text = retryBatchText(ctx.state.tools, letter, bootTargetRoot(bootTargetCombo), generation,
                                          isGptText(target.targetPartitionType));
  // A batch left from an earlier run names another target: never run one we did not write.
  if (!ctx.os.files.writeFile(path, text)) {
    ctx.os.files.deleteFile(path);
    ask(ctx, owner, "无法写入批处理文件 " + path + " ！", ui::kOk | ui::kIconStop);
    return;
  }
  ctx.os.processes.runAndWait(path);
}

}  // namespace

std::string productVersionOf(platform::Platform& os, const std::string& path) {
  const std::optional<std::string> block = os.files.versionInfo(path);
  if (!block) return {};
  const auto translations = os.files.versionTranslations(*block);
  const std::string key =
      translations.empty() ? "040904E4" : hex4(translations.front().first) + hex4(translations.front().second);
  return os.files.versionString(*block, "\\StringFileInfo\\" + key + "\\ProductVersion").value_or("");
}

WindowsGeneration windowsGenerationOf(std::string_view productVersion) {
  const std::string_view head = productVersion.substr(0, 2);
  if (head == "10") return WindowsGeneration::Ten;
  if (head == "6.") return WindowsGeneration::Six;
  if (head == "5.") return WindowsGeneration::Five;
  return WindowsGeneration::Unknown;
}

bool isGptText(std::string_view partitionType) { return gbk::contains(partitionType, "GPT", true); }

bool bcdbootSucceeded(std::string_view output) {
  return gbk::contains(output, "successfully", true) || gbk::contains(output, "成功");
}

std::string bootTargetRoot(const ui::Control& bootTargetCombo) {
  const int item = bootTargetCombo.selection();
  if (item < 0) return {};
  return bootTargetCombo.itemText(item).substr(0, 3);
}

std::string bootCommandLine(const core::ToolPaths& tools, BootCommand which, std::string_view letter,
                            std::string_view root) {
  const std::string device = tools.booticePath + " /DEVICE=" + std::string(root);
  switch (which) {
    case BootCommand::MbrForBootmgr: return device + " /mbr /install  /type=nt60  /quiet";
    case BootCommand::PbrForBootmgr: return device + " /pbr /install  /type=bootmgr  /quiet";
    case BootCommand::ActivatePartition: return device + " /partitions /activate /quiet";
    case BootCommand::MbrForNtldr: return device + " /mbr /install  /type=nt52  /quiet";
    case BootCommand::PbrForNtldr: return device + " /pbr /install  /type=ntldr  /quiet";
    case BootCommand::BcdbootBios:
      return tools.bcdbootPath + " " + std::string(letter) + ":\\Windows /s " + std::string(root) + "  /l zh-cn ";
    case BootCommand::BcdbootAllFirmware:
      return tools.bcdbootPath + " " + std::string(letter) + ":\\Windows /s " + std::string(root) +
             " /f all /l zh-cn ";
  }
  return {};
}

std::string retryBatchPath(platform::Platform& os) {
  std::string folder = os.system.windowsDirectory();
  if (!gbk::endsWithBackslash(folder)) folder += '\\';
  return folder + "\\yd.cmd";
}

std::string retryBatchText(const core::ToolPaths& tools, std::string_view letter, std::string_view root,
                           WindowsGeneration generation, bool gpt) {
  std::string ending = " /l zh-cn \r\ndel yd.cmd";
  if (gpt) ending = generation == WindowsGeneration::Ten ? " /f  all /l zh-cn \r\ndel yd.cmd" : " /f all /l zh-cn \r\ndel yd.cmd";
  return tools.bcdbootPath + " " + std::string(letter) + ":\\Windows /S " + std::string(root) + ending;
}

void repairBoot(core::Context& ctx, const core::Target& target, ui::Control& statusLabel,
                const ui::Control& bootTargetCombo, ui::Window* owner) {
  statusLabel.setText(kAddingBoot);
  // Every way out leaves its word in the status label: that is the logged outcome.
  struct LogAtEnd {
    core::OperationLog log;
    ui::Control& status;
    ~LogAtEnd() { log.finish(status.text() == kBootDone, status.text()); }
  } logAtEnd{core::OperationLog(ctx.os, "修复引导", "", core::targetText(target),
                                "引导分区 " + bootTargetRoot(bootTargetCombo)),
             statusLabel};
  // Without a boot target every tool would run with an empty device.
  if (bootTargetRoot(bootTargetCombo).empty()) {
    statusLabel.setText(kBootFailed);
    ask(ctx, owner, kNoBootTarget, ui::kOk | ui::kIconStop);
    return;
  }
  const std::string letter = target.targetDrive.substr(0, 1);
  const WindowsGeneration generation = windowsGenerationOf(productVersionOf(ctx.os, interpreterPathOn(letter)));
  const bool gpt = isGptText(target.targetPartitionType);
  const bool runsBcdboot = generation == WindowsGeneration::Ten || generation == WindowsGeneration::Six;
  // Checked before anything is changed on the restored system.
  if (runsBcdboot && gpt && !bootTargetFitsUefi(ctx, target, statusLabel, bootTargetRoot(bootTargetCombo), owner)) return;

  auto run = [&](BootCommand which) {
    return runner::tryRunCaptured(ctx.os,
                                  bootCommandLine(ctx.state.tools, which, letter, bootTargetRoot(bootTargetCombo)));
  };
  if (runsBcdboot) {
    // Only a rebuild may take the old store away: without one, a system that booted
    // would no longer boot.
    const std::string oldStore = target.targetDrive + "\\Boot\\BCD";
    if (ctx.os.files.exists(oldStore)) ctx.os.files.deleteFile(oldStore);
    std::string output;
    if (gpt) {
      output = run(BootCommand::BcdbootAllFirmware).output;
      if (isEspRoot(ctx, bootTargetRoot(bootTargetCombo))) ctx.state.esp.used = true;
    } else {
      run(BootCommand::MbrForBootmgr);
      run(BootCommand::PbrForBootmgr);
      run(BootCommand::ActivatePartition);
      output = run(BootCommand::BcdbootBios).output;
    }
    if (bcdbootSucceeded(output)) {
      statusLabel.setText(kBootDone);
      return;
    }
    offerBatchRetry(ctx, target, statusLabel, bootTargetCombo, generation, output, owner);
    return;
  }
  if (generation == WindowsGeneration::Five) {
    // No bcdboot judges this branch: the boot tool's own outcome does. Every step runs
    // whatever the one before did; what the failed ones said is shown once each.
    std::string errors;
    for (BootCommand which : {BootCommand::MbrForNtldr, BootCommand::PbrForNtldr, BootCommand::ActivatePartition}) {
      const std::string said = bootToolFailure(run(which));
      if (!said.empty() && !gbk::contains(errors, said)) errors += said;
    }
    if (errors.empty()) {
      statusLabel.setText(kBootDone);
      return;
    }
    statusLabel.setText(kBootFailed);
    ask(ctx, owner, kBootFailedDetails + errors, ui::kOk | ui::kIconStop);
    return;
  }
  if (ctx.os.files.exists(interpreterPathOn(letter))) {
    statusLabel.setText(kUnknownWindows);
    ask(ctx, owner, kUnknownWindows, ui::kOk | ui::kIconStop);
  }
}

}  // namespace prep
