#include "tools/wimengine/backend_choice.h"

#include "platform/gbk.h"

namespace wimengine {

namespace {

constexpr const char* kSystemName = "wimgapi.dll";
constexpr const char* kWimlibName = "wimlib";

// Failures after which the other library may well succeed: the DLL is unusable, or
// it does not understand the file (newer compression, solid resources, split sets).
// The rest (paths, access, room, image numbers) would fail the same way again.
bool unusable(ErrorKind kind) {
  return kind == ErrorKind::LibraryMissing || kind == ErrorKind::LibraryNotFound ||
         kind == ErrorKind::LibraryWrongBitness || kind == ErrorKind::LibraryTooOld;
}

bool worthAnotherLibrary(ErrorKind kind, bool imageMayBeRefused) {
  if (unusable(kind) || kind == ErrorKind::EsdNeedsNewerWimgapi) return true;
  if (!imageMayBeRefused) return false;
  return kind == ErrorKind::WimCorrupt || kind == ErrorKind::WimUnsupported || kind == ErrorKind::WimSplit ||
         kind == ErrorKind::Other;
}

Failure named(Failure failure, const std::string& library) {
  if (failure) failure.library = library;
  return failure;
}

}  // namespace

std::optional<LibraryChoice> parseLibraryChoice(const char* value) {
  if (!value || !*value || gbk::equalsIgnoreCase(value, "auto")) return LibraryChoice::SystemFirst;
  if (gbk::equalsIgnoreCase(value, "wimgapi")) return LibraryChoice::SystemOnly;
  if (gbk::equalsIgnoreCase(value, "wimlib")) return LibraryChoice::WimlibOnly;
  return std::nullopt;
}

std::string libraryChoiceError() { return "错误: 环境变量 VREL_WIM_LIBRARY 只能是 auto、wimgapi 或 wimlib。"; }

FallbackBackend::FallbackBackend(Backend& system, Backend& wimlib, LibraryChoice choice)
    : system_(system), wimlib_(wimlib), choice_(choice) {}

template <typename Run>
Failure FallbackBackend::run(Run&& attempt, bool imageMayBeRefused) {
  if (choice_ == LibraryChoice::WimlibOnly) return named(attempt(wimlib_), kWimlibName);
  Failure first = attempt(system_);
  if (!first || choice_ == LibraryChoice::SystemOnly || !worthAnotherLibrary(first.kind, imageMayBeRefused))
    return named(first, kSystemName);
  Failure second = attempt(wimlib_);
  if (!second) return second;
  // Both failed: wimlib's cause is shown, with what the system's library said.
  std::string library = kWimlibName;
  // A library that could not be used at all adds nothing but its loader's code.
  if (!unusable(first.kind) || first.code != 0) {
    std::string systemPart = kSystemName;
    if (first.code != 0) systemPart += " 代码 " + std::to_string(first.code);
    library = systemPart + "; " + library;
  }
  return named(second, library);
}

Failure FallbackBackend::readInfo(const std::string& wimPath, WimSummary& summary) {
  return run(
      [&](Backend& backend) {
        summary = WimSummary{};
        return backend.readInfo(wimPath, summary);
      },
      true);
}

Failure FallbackBackend::apply(const Command& command, toolio::Progress& progress) {
  return run([&](Backend& backend) { return backend.apply(command, progress); }, true);
}

Failure FallbackBackend::capture(const CaptureRequest& request, toolio::Progress& progress) {
  return run([&](Backend& backend) { return backend.capture(request, progress); }, false);
}

Failure FallbackBackend::verifyImage(const std::string& wimPath) {
  return named(wimlib_.verifyImage(wimPath), kWimlibName);
}

}  // namespace wimengine
