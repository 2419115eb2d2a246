// A restore target in the fake world, as the restore window hands it to prep/.
#pragma once

#include <string>

#include "core/context.h"
#include "core/request.h"
#include "tests/fakes/fake_os.h"
#include "tests/fakes/fake_ui.h"

namespace preptest {

inline constexpr char kBootice[] = "X:\\Temp\\\\bootice.exe";
inline constexpr char kBcdboot[] = "X:\\Temp\\\\bcdboot.exe";
inline constexpr char kEspVolume[] = "\\\\?\\Volume{e5e5e5e5-0000-0000-0000-000000000001}\\";

struct World {
  fake::World w;
  fake::WindowSystem ui;
  core::AppState state;
  core::Request request;  // a WIM restore onto C:, as the restore window hands it over
  core::Target& target = request.target;
  core::Context ctx{w.os, ui, state, [](std::string_view name) {
                      return name == "MARK.exe" ? std::string_view("MZ-mark-bytes") : std::string_view();
                    }};

  World() {
    state.tools.booticePath = kBootice;
    state.tools.bcdbootPath = kBcdboot;
    target.targetDrive = "C:";
    target.targetDisplay = "C:\\(1:2)";
    target.targetPartitionType = "主分区,MBR";
    request.imagePath = "D:\\images\\win.wim";
    w.volumes.drives = {{"C:\\", 3}, {"D:\\", 3}, {"X:\\", 6}};
    w.volumes.deviceNumbers = {{"\\\\.\\C:", 0}, {"\\\\.\\D:", 1}};
  }

  // The restored system's interpreter with the given product version ("" = no resource).
  void restoredWindows(const std::string& productVersion) { w.files.addRestoredWindows('C', productVersion); }

  // Disk 1 (device 0) as GPT with an ESP without a letter as its first partition.
  void gptDiskWithEsp() {
    target.targetPartitionType = "主分区,GPT";
    w.volumes.volumes = {
        {kEspVolume, 0, 1, true, "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", ""},
        {"\\\\?\\Volume{c0c0c0c0-0000-0000-0000-000000000002}\\", 0, 2, true,
         "EBD0A0A2-B9E5-4433-87C4-68B6B72699C7", "C:\\"},
    };
  }
};

}  // namespace preptest
