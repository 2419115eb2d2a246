#include "tools/iso/problem.h"

#include "tools/common/text_markers.h"

namespace iso {

namespace {

const struct {
  Problem key;
  const char* text;
} kLines[] = {
    {Problem::BadCommandLine,
     "错误: 命令行无效。用法: ISO.exe /D:盘符 /I:\"ISO文件\",ISO.exe /q,ISO.exe /X:\"文件夹\" /I:\"ISO文件\""},
    {Problem::ImageMissing, "错误: 找不到ISO镜像文件。"},
    {Problem::ImageUnreadable, "错误: 无法读取ISO镜像文件。"},
    {Problem::NotAnImage, "错误: 不是有效的ISO镜像文件。"},
    {Problem::ImageCorrupt, "错误: ISO镜像文件已损坏或不完整。"},
    {Problem::ImageUnsupported, "错误: 不支持此ISO镜像的文件系统格式。"},
    {Problem::UnsafeName, "错误: ISO镜像中的文件名不安全(含有路径或保留名称),已拒绝复制。"},
    {Problem::FolderNotCreated, "错误: 无法创建目标文件夹。"},
    {Problem::WriteFailed, "错误: 写入文件失败。"},
    {Problem::DiskFull, "错误: 磁盘空间不足。"},
    {Problem::Cancelled, "错误: 复制已取消。"},
    {Problem::LetterInUse, "错误: 盘符已被占用。"},
    {Problem::MountFailed, "错误: 无法挂载ISO镜像。"},
    {Problem::MountUnsupported, "错误: 此系统不支持挂载ISO镜像。"},
    {Problem::DetachFailed, "错误: 无法卸载已挂载的ISO镜像,可能仍有程序在使用其中的文件,请关闭这些程序后重试。"},
};

}  // namespace

std::string messageLine(Problem problem) {
  const auto* row = toolio::rowOf(kLines, problem);
  return row ? row->text : "错误: 操作失败。";
}

}  // namespace iso
