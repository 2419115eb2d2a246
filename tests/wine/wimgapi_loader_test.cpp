// The WIM engine's WIMGAPI backend over a stand-in loader: what the user reads when
// wimgapi.dll is missing, of the other bitness or too old (Wine's own wimgapi.dll is
// a stub, so these answers cannot come from the system here).
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "tools/wimengine/backend_wimgapi.h"
#include "tools/wimengine/errors.h"

namespace {

std::uint32_t loadError = 0;
const char* missing = nullptr;  // the entry point the stand-in library lacks
int released = 0;

void* noLibrary(std::uint32_t& error) {
  error = loadError;
  return nullptr;
}
// Any non-null module; no entry point is ever called.
void* someLibrary(std::uint32_t&) { return reinterpret_cast<void*>(GetModuleHandleW(nullptr)); }
void* entryUnlessMissing(void*, const char* name) {
  return missing && std::strcmp(name, missing) == 0 ? nullptr : reinterpret_cast<void*>(&someLibrary);
}
void release(void*) { ++released; }

std::string infoLine() {
  wimengine::WimgapiBackend backend(wimengine::WimgapiLoader{loadError ? noLibrary : someLibrary, entryUnlessMissing,
                                                             release});
  wimengine::WimSummary summary;
  return wimengine::errorLine(backend.readInfo("C:\\a.wim", summary));
}

TEST(WimgapiLoader, TheUserReadsWhyTheLibraryCannotBeUsed) {
  loadError = 126;
  EXPECT_EQ(infoLine(), "错误: 系统中没有 wimgapi.dll(找不到此文件),无法用它操作WIM映像。");
  loadError = 193;
  EXPECT_EQ(infoLine(), "错误: 系统中的 wimgapi.dll 与本程序的位数(32/64位)不符,无法加载。");
  loadError = 1114;
  EXPECT_EQ(infoLine(), "错误: 无法加载 wimgapi.dll,此系统不支持WIM映像操作。(代码 1114)");
  EXPECT_EQ(released, 0) << "nothing loaded, nothing released";
  loadError = 0;
  missing = "WIMSetTemporaryPath";  // as Wine's stub lacks it
  EXPECT_EQ(infoLine(), "错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 WIMSetTemporaryPath,无法使用。");
  missing = "WIMUnregisterMessageCallback";
  EXPECT_EQ(infoLine(), "错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 WIMUnregisterMessageCallback,无法使用。");
  EXPECT_EQ(released, 2) << "a library that lacks an entry point is let go at once";
  missing = nullptr;
}

// The system's own loader under Wine: its wimgapi.dll lacks WIMSetTemporaryPath.
TEST(WimgapiLoader, WinesStubIsTooOld) {
  wimengine::WimgapiBackend backend;
  wimengine::WimSummary summary;
  EXPECT_EQ(wimengine::errorLine(backend.readInfo("C:\\a.wim", summary)),
            "错误: 系统中的 wimgapi.dll 版本过旧,缺少函数 WIMSetTemporaryPath,无法使用。");
}

}  // namespace
