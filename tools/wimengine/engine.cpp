#include "tools/wimengine/engine.h"

#include "tools/wimengine/wim_xml.h"
#include "tools/wimengine/wimgapi_messages.h"

namespace wimengine {

namespace {

int reportFailure(toolio::LineSink& out, const Failure& failure) {
  out.line("");
  out.line(errorLine(failure));
  return 1;
}

// A folder given as the image would otherwise be read and reported as a damaged file;
// a pipe with no writer would hold the library's open for ever.
bool refuseFolderAsWim(const Command& command, Backend& backend, toolio::LineSink& out) {
  if (backend.isDirectory(command.wimPath)) {
    reportFailure(out, failedWith(ErrorKind::WimIsFolder));
    return true;
  }
  if (!backend.isSpecialFile(command.wimPath)) return false;
  reportFailure(out, failedWith(ErrorKind::WimNotAFile));
  return true;
}

int runInfo(const Command& command, Backend& backend, toolio::LineSink& out) {
  if (refuseFolderAsWim(command, backend, out)) return 1;
  WimSummary summary;
  Failure outcome = backend.readInfo(command.wimPath, summary);
  if (outcome) return reportFailure(out, outcome);
  // The count comes first and starts its line: the program reads it by dropping
  // the first 12 characters of the first line that mentions it.
  out.line("WIM Information:");
  out.line("----------------");
  out.line("Image Count: " + std::to_string(summary.imageCount));
  out.line("Path:        " + backend.toUtf8(command.wimPath));
  out.line("GUID:        " + summary.guid);
  out.line("Compression: " + summary.compression);
  out.line("Part Number: " + std::to_string(summary.partNumber) + "/" + std::to_string(summary.totalParts));
  out.line("Boot Index:  " + std::to_string(summary.bootIndex));
  out.line("");
  out.line("Available Image Choices:");
  out.line("------------------------");
  for (const std::string& line : prettyXmlLines(summary.xmlUtf8)) out.line(line);
  return 0;
}

int runApply(const Command& command, Backend& backend, toolio::LineSink& out) {
  ProgressReporter progress(out, ProgressVerb::Applying, [&backend] { return backend.nowMs(); });
  if (refuseFolderAsWim(command, backend, out)) return 1;
  // A file where the target folder should be: the libraries report it as a missing path.
  const std::string target = driveToRoot(command.target);
  if (backend.fileExists(target) && !backend.isDirectory(target))
    return reportFailure(out, failedWith(ErrorKind::TargetNotFolder));
  // A split set is checked whole before anything is written.
  Command resolved = command;
  if (std::optional<WimHeader> header = parseWimHeader(backend.readFileStart(command.wimPath, kWimHeaderSize))) {
    Failure parts = findOtherParts(command.wimPath, *header, command.refPatterns, backend, resolved.otherParts);
    if (parts) {
      parts.name = namedInErrorLine(backend.toConsoleText(parts.name));
      return reportFailure(out, parts);
    }
  }
  progress.update(0);
  Failure outcome = backend.apply(resolved, progress);
  if (outcome) return reportFailure(out, outcome);
  progress.finish();
  out.line("");
  out.line("Successfully applied image.");
  out.line("");
  out.line(elapsedLine(progress.elapsedMs()));
  return 0;
}

int runCapture(const Command& command, Backend& backend, toolio::LineSink& out) {
  if (!command.tempDir.empty() && !backend.isDirectory(command.tempDir))
    return reportFailure(out, failedWith(ErrorKind::TempDirMissing));
  if (backend.isDirectory(command.wimPath))
    return reportFailure(out, failedWith(ErrorKind::DestinationNotWritable));
  // The finished image is renamed over its destination: never over a device or a pipe.
  if (backend.isSpecialFile(command.wimPath)) return reportFailure(out, failedWith(ErrorKind::DestinationNotAFile));

  ProgressReporter progress(out, ProgressVerb::Capturing, [&backend] { return backend.nowMs(); });
  progress.update(0);
  toolio::ScratchFile scratch(backend, command.wimPath);
  CaptureRequest request;
  request.source = command.source;
  request.wimPath = scratch.path();
  request.name = command.name;
  request.description = command.description;
  request.flags = command.flags;
  request.compression = command.compression;
  request.tempDir = command.tempDir;

  Failure outcome = backend.capture(request, progress);
  if (outcome) return reportFailure(out, outcome);
  // A backup is only as good as what can be read back: the written file is read
  // again before it takes its name. One that was written whole and then fails is kept
  // (the user may want to look at it or copy what it holds); only a file that was
  // never finished is removed.
  Failure check = backend.verifyImage(scratch.path());
  if (!scratch.commit()) return reportFailure(out, failedWith(ErrorKind::DestinationNotWritable));
  if (check) {
    Failure damaged = failedWith(ErrorKind::WrittenImageDamaged, check.code);
    damaged.library = check.library;
    reportFailure(out, damaged);
    return kExitWrittenImageDamaged;
  }
  progress.finish();
  out.line("");
  out.line("Successfully imaged " + backend.toConsoleText(command.source));
  out.line("");
  out.line(elapsedLine(progress.elapsedMs()));
  return 0;
}

}  // namespace

int runEngine(const std::vector<std::string>& args, Backend& backend, toolio::LineSink& out) {
  ParseResult parsed = parseCommandLine(args);
  if (!parsed.ok) {
    out.line(parsed.error);
    for (const std::string& line : usageLines()) out.line(line);
    return 2;
  }
  switch (parsed.command.operation) {
    case Operation::Info: return runInfo(parsed.command, backend, out);
    case Operation::Apply: return runApply(parsed.command, backend, out);
    case Operation::Capture: return runCapture(parsed.command, backend, out);
  }
  return 2;
}

}  // namespace wimengine
