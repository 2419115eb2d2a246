#include "tools/bootice/disk_set_backend.h"

#include "platform/gbk.h"

namespace bootice {

char driveLetterOf(const std::string& device) {
  if (device.empty() || device.size() > 3) return 0;
  const char letter = gbk::asciiUpper(device[0]);
  if (letter < 'A' || letter > 'Z') return 0;
  if (device.size() >= 2 && device[1] != ':') return 0;
  if (device.size() == 3 && device[2] != '\\' && device[2] != '/') return 0;
  return letter;
}

std::unique_ptr<Target> DiskSetBackend::open(const std::string& device, Report& failure) {
  const std::string text = gbk::trimBlanks(device);
  const std::optional<disk::Designator> where = disk::parseDesignator(text);
  if (!where) {
    failure = report(driveLetterOf(text) ? Result::LetterOnImages : Result::UnknownDeviceOnImages, text);
    return nullptr;
  }
  disk::Error why;
  std::unique_ptr<disk::Device> opened = disks_.open(where->disk, true, why);
  if (!opened) {
    failure = report(Result::DiskUnopenable, text);
    failure.disk = where->disk;
    failure.detail = disk::describe(why);
    return nullptr;
  }
  return std::make_unique<DiskTarget>(std::move(opened), where->partition);
}

}  // namespace bootice
