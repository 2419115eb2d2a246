#include "tools/bootice/report.h"

#include "tools/common/text_markers.h"

namespace bootice {

namespace {

// %d: the device, %f: the file system, %l: the loader asked for, %o: the other one,
// %e: the disk layer's words, %n: the disk, %c: the system's code.
const struct {
  Result key;
  const char* text;
} kLines[] = {
    {Result::NoDevice, "错误: 找不到设备 %d。"},
    {Result::NotAHardDisk, "错误: %d 不是硬盘上的分区(光驱、网络驱动器或内存盘没有引导记录)。"},
    {Result::NeedsAdministrator, "错误: 无法打开 %d,需要管理员权限。"},
    {Result::Unopenable, "错误: 无法打开 %d(代码 %c)。"},
    {Result::SpansDisks, "错误: 无法确定 %d 所在的磁盘和分区(跨越多个磁盘的动态卷不受支持)。"},
    {Result::NotOnHardDisk, "错误: %d 不是硬盘上的分区。"},
    {Result::WholeDiskVolume, "错误: %d 所在的磁盘没有分区表(整个磁盘就是一个卷),未做任何修改。"},
    {Result::DiskOfVolumeUnopenable, "错误: 无法打开 %d 所在的磁盘: %e"},
    {Result::UnknownDevice, "错误: 无法识别的设备 %d,应为盘符(如 C:\\)或 磁盘号:分区号(如 1:2)。"},
    {Result::LetterOnImages, "错误: 找不到设备 %d,这里的磁盘是磁盘映像,没有盘符,请用 磁盘号:分区号(如 1:2)指定。"},
    {Result::UnknownDeviceOnImages, "错误: 无法识别的设备 %d,应为 磁盘号:分区号(如 1:2)。"},
    {Result::DiskUnopenable, "错误: 无法打开磁盘 %n: %e"},
    {Result::LayoutUnreadable, "错误: %e未做任何修改。"},
    {Result::PartitionNotFound, "错误: 在磁盘的分区表中找不到 %d 所在的分区,未做任何修改。"},
    {Result::WriteFailed, "错误: 写入磁盘失败(磁盘可能被写保护或拒绝访问)。"},
    {Result::ReadBackFailed, "错误: 写入后无法读回磁盘的第一个扇区,请检查磁盘。"},
    {Result::ReadBackDiffers, "错误: 写入后读回的内容与写入的不一致,磁盘可能已损坏。"},
    {Result::NoTable, "错误: %d 所在的磁盘没有分区表(整个磁盘就是一个卷),写入会破坏其上的文件系统,未做任何修改。"},
    {Result::GptHasNoMbr, "错误: %d 位于 GPT 磁盘上,GPT 磁盘不使用主引导记录,未做任何修改。"},
    {Result::MbrUnreadable, "错误: 读取磁盘的主引导记录失败。"},
    {Result::MbrWritten, "已写入 %d 所在磁盘的主引导记录,分区表和磁盘签名保持不变。"},
    {Result::GptHasNoActive, "错误: %d 位于 GPT 磁盘上,GPT 磁盘没有活动分区,未做任何修改。"},
    {Result::LogicalCannotBeActive, "错误: %d 是扩展分区中的逻辑分区,只有主分区可以设为活动分区,未做任何修改。"},
    {Result::TableUnreadable, "错误: 读取磁盘的分区表失败。"},
    {Result::Activated, "已将 %d 设为活动分区。"},
    {Result::PbrUnreadable, "错误: 读取 %d 的分区引导扇区失败。"},
    {Result::PbrBlank, "错误: %d 的分区引导扇区是空的(分区可能未格式化),无法加载 %l。"},
    {Result::PbrNoMark, "错误: %d 的分区引导扇区无效(缺少 55AA 标记),文件系统: %f,无法加载 %l。"},
    {Result::PbrLoadsIt, "%d 的分区引导记录(%f)加载 %l,无需改写。"},
    {Result::PbrLoadsOther,
     "错误: %d 的分区引导记录(%f)加载的是 %o,不是 %l,未做任何修改。请用对应版本的 Windows 重新格式化该分区。"},
    {Result::PbrForeign,
     "错误: %d 的分区引导记录(%f)不是 Windows 引导代码,不会加载 %l,未做任何修改。请用 Windows 重新格式化该分区。"},
};

}  // namespace

bool Report::ok() const {
  return result == Result::MbrWritten || result == Result::Activated || result == Result::PbrLoadsIt;
}

Report report(Result result, std::string device) {
  Report r;
  r.result = result;
  r.device = std::move(device);
  return r;
}

std::string lineOf(const Report& r) {
  const auto* row = toolio::rowOf(kLines, r.result);
  return toolio::fillMarkers(row ? row->text : "", [&](char key) -> std::string {
    switch (key) {
      case 'd': return r.device;
      case 'f': return r.fileSystem;
      case 'l': return r.loader;
      case 'o': return r.other;
      case 'e': return r.detail;
      case 'n': return std::to_string(r.disk);
      case 'c': return std::to_string(r.code);
    }
    return {};
  });
}

}  // namespace bootice
