// Stands in for the WIM engine under Wine (there is no wimgapi.dll there): prints
// what the engine prints, at the pace given by VREL_ENGINE_MODE.
//   ok    progress lines over about a second, then the success lines
//   fail  an error line at once, exit code 1
//   hang  progress lines slowly until it is killed
// VREL_ENGINE_ARGS names a file that receives the arguments as the engine parsed
// them, one per line.
// /capture also writes "<destination>.vrelpart" as the engine's scratch file and, on
// success, renames it to the destination.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string progressLine(const char* verb, int percent) {
  char line[96];
  if (percent >= 30 && percent < 100)
    std::snprintf(line, sizeof line, "[ %3d%% ] %s progress: 0:%02d mins remaining\r\n", percent, verb, (100 - percent) / 10);
  else
    std::snprintf(line, sizeof line, "[ %3d%% ] %s progress\r\n", percent, verb);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) return 2;
  const std::string op = argv[1];
  const char* modeText = std::getenv("VREL_ENGINE_MODE");
  const std::string mode = modeText ? modeText : "ok";
  if (const char* argsFile = std::getenv("VREL_ENGINE_ARGS")) {
    if (FILE* f = std::fopen(argsFile, "wb")) {
      for (int i = 1; i < argc; ++i) std::fprintf(f, "%s\n", argv[i]);
      std::fclose(f);
    }
  }
  if (op == "/info") {
    // UTF-8, as the engine prints its information.
    out("WIM Information:\r\n----------------\r\nImage Count: 1\r\n\r\n<WIM>\r\n  <IMAGE INDEX=\"1\">\r\n"
        "    <NAME>Windows 7 \xE6\x97\x97\xE8\x88\xB0\xE7\x89\x88</NAME>\r\n  </IMAGE>\r\n</WIM>\r\n");
    return 0;
  }
  const bool capture = op == "/capture";
  const char* verb = capture ? "Capturing" : "Applying";
  std::string scratch;
  if (capture && argc > 3) {
    scratch = std::string(argv[3]) + ".vrelpart";
    FILE* f = std::fopen(scratch.c_str(), "wb");
    if (f) {
      std::fputs("partial image", f);
      std::fclose(f);
    }
  }
  if (mode == "fail") {
    out(progressLine(verb, 0) + "\r\n错误: 映像编号超出范围,此文件共有 1 个映像。\r\n");
    if (!scratch.empty()) std::remove(scratch.c_str());
    return 1;
  }
  const int pause = mode == "hang" ? 400 : 90;
  for (int percent = 0; percent <= 100; percent += 5) {
    out(progressLine(verb, percent));
    Sleep(pause);
    if (mode == "hang" && percent == 95) percent = 90;
  }
  if (capture) {
    MoveFileExA(scratch.c_str(), argv[3], MOVEFILE_REPLACE_EXISTING);
    out(std::string("\r\nSuccessfully imaged ") + argv[2] + "\r\n\r\nTotal elapsed time: 2 sec\r\n");
  } else {
    out("\r\nSuccessfully applied image.\r\n\r\nTotal elapsed time: 2 sec\r\n");
  }
  return 0;
}
