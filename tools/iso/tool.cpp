#include "tools/iso/tool.h"

#include <functional>

namespace iso {

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A switch value: quoted (up to the closing quote) or up to the next blank, or to
// the end of the line when toEnd is set.
std::string takeValue(std::string_view& rest, bool toEnd) {
  if (!rest.empty() && rest.front() == '"') {
    std::size_t close = rest.find('"', 1);
    std::string value(rest.substr(1, close == rest.npos ? rest.npos : close - 1));
    rest = close == rest.npos ? std::string_view() : rest.substr(close + 1);
    return value;
  }
  if (toEnd) {
    std::string value(trimmed(rest));
    rest = {};
    return value;
  }
  std::size_t end = 0;
  while (end < rest.size() && !isBlank(rest[end])) ++end;
  std::string value(rest.substr(0, end));
  rest.remove_prefix(end);
  return value;
}

bool isCopyFolder(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/");
  std::string_view name = slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
  return name.substr(0, 8) == "VrelISO_";
}

int fail(toolio::LineSink& out, Problem problem) {
  out.line(messageLine(problem));
  return problem == Problem::BadCommandLine ? 2 : 1;
}

struct Opened {
  std::unique_ptr<ImageSource> source;
  ReadOutcome read;
  Plan plan;
};

// Opens and reads the image and plans the copy of its GHO and WIM files.
bool openAndPlan(const std::string& image, Backend& backend, Opened& opened, Problem& problem) {
  if (image.empty() || !backend.fileExists(image)) {
    problem = Problem::ImageMissing;
    return false;
  }
  opened.source = backend.openImage(image);
  if (!opened.source) {
    problem = Problem::ImageUnreadable;
    return false;
  }
  opened.read = readVolume(*opened.source);
  if (opened.read.problem != Problem::None) {
    problem = opened.read.problem;
    return false;
  }
  opened.plan = planExtraction(opened.read.volume.root, [](const Node& n) { return isImageFileName(n.name); });
  if (opened.plan.problem != Problem::None) {
    problem = Problem::UnsafeName;
    return false;
  }
  return true;
}

CopyOutcome copyWithProgress(Opened& opened, OutputTree& target, Backend& backend) {
  CopyOutcome copied;
  backend.withProgress(opened.plan.totalBytes, [&](toolio::Progress& progress) {
    copied = copyPlan(*opened.source, opened.plan, target, progress);
  });
  return copied;
}

int extract(const Request& request, Backend& backend, toolio::LineSink& out) {
  Opened opened;
  Problem problem;
  if (!openAndPlan(request.image, backend, opened, problem)) return fail(out, problem);
  const bool existed = backend.fileExists(request.folder);
  std::unique_ptr<OutputTree> target = backend.openFolder(request.folder);
  if (!target) return fail(out, Problem::FolderNotCreated);
  CopyOutcome copied = copyWithProgress(opened, *target, backend);
  if (copied.problem != Problem::None) {
    // The copy took back what it made; the folder made for it goes too (when empty).
    if (!existed) target->removeFolder("");
    return fail(out, copied.problem);
  }
  out.line("已复制 " + std::to_string(copied.filesCopied) + " 个文件,共 " + std::to_string(copied.bytesCopied) +
           " 字节。");
  return 0;
}

int list(const Request& request, Backend& backend, toolio::LineSink& out) {
  if (!backend.fileExists(request.image)) return fail(out, Problem::ImageMissing);
  std::unique_ptr<ImageSource> source = backend.openImage(request.image);
  if (!source) return fail(out, Problem::ImageUnreadable);
  ReadOutcome read = readVolume(*source);
  if (read.problem != Problem::None) return fail(out, read.problem);
  out.line(formatName(read.volume.format));
  std::function<void(const Node&, const std::string&)> walk = [&](const Node& dir, const std::string& prefix) {
    for (const Node& child : dir.children) {
      std::string path = prefix + child.name;
      if (child.directory) {
        out.line("D\t" + path);
        walk(child, path + "/");
      } else {
        out.line((child.regular ? "F\t" : "S\t") + path + "\t" + std::to_string(child.size));
      }
    }
  };
  walk(read.volume.root, "");
  return 0;
}

int unmountAll(Backend& backend, toolio::LineSink& out) {
  std::vector<MountRecord> records = parseMountRecords(backend.readMountRecords());
  // An image the system would not detach stays recorded, so a later "/q" tries again.
  std::vector<MountRecord> kept;
  for (const MountRecord& record : records) {
    if (record.kind == MountRecord::Kind::VirtualDisk) {
      if (!backend.detachIso(record.letter, record.path)) kept.push_back(record);
    } else {
      backend.unmapLetter(record.letter, record.path);
      if (isCopyFolder(record.path)) backend.removeTree(record.path);
    }
  }
  if (!records.empty()) backend.writeMountRecords(formatMountRecords(kept));
  return kept.empty() ? 0 : fail(out, Problem::DetachFailed);
}

int mount(const Request& request, Backend& backend, toolio::LineSink& out) {
  if (!backend.canMount()) return fail(out, Problem::MountUnsupported);
  if (!backend.fileExists(request.image)) return fail(out, Problem::ImageMissing);
  std::vector<MountRecord> records = parseMountRecords(backend.readMountRecords());
  for (std::size_t i = 0; i < records.size(); ++i) {
    // Mounting again on a letter this tool holds replaces the earlier mount.
    if (records[i].letter != request.letter) continue;
    MountRecord old = records[i];
    records.erase(records.begin() + std::ptrdiff_t(i));
    backend.writeMountRecords(formatMountRecords(records));
    if (old.kind == MountRecord::Kind::VirtualDisk) {
      if (!backend.detachIso(old.letter, old.path)) {
        records.insert(records.begin() + std::ptrdiff_t(i), old);
        backend.writeMountRecords(formatMountRecords(records));
        return fail(out, Problem::DetachFailed);
      }
    } else {
      backend.unmapLetter(old.letter, old.path);
      if (isCopyFolder(old.path)) backend.removeTree(old.path);
    }
    break;
  }
  if (backend.letterInUse(request.letter)) return fail(out, Problem::LetterInUse);

  // Recorded before the attach: a tool killed half-way still leaves "/q" able to undo it.
  records.push_back({MountRecord::Kind::VirtualDisk, request.letter, request.image});
  backend.writeMountRecords(formatMountRecords(records));
  if (backend.attachIso(request.letter, request.image)) return 0;
  records.pop_back();
  backend.writeMountRecords(formatMountRecords(records));

  Opened opened;
  Problem problem;
  if (!openAndPlan(request.image, backend, opened, problem)) return fail(out, problem);
  Problem last = Problem::FolderNotCreated;
  for (const std::string& folder : backend.copyFolderCandidates(request.image)) {
    records.push_back({MountRecord::Kind::CopiedFolder, request.letter, folder});
    backend.writeMountRecords(formatMountRecords(records));
    std::unique_ptr<OutputTree> target = backend.openFolder(folder);
    if (target) {
      CopyOutcome copied = copyWithProgress(opened, *target, backend);
      target.reset();
      if (copied.problem == Problem::None) {
        if (backend.mapLetter(request.letter, folder)) return 0;
        last = Problem::MountFailed;
      } else {
        last = copied.problem;
      }
    }
    backend.removeTree(folder);
    records.pop_back();
    backend.writeMountRecords(formatMountRecords(records));
    // The user's cancel and a broken image end it; a full or read-only disk tries the next place.
    if (last == Problem::Cancelled || last == Problem::ImageCorrupt || last == Problem::ImageUnreadable ||
        last == Problem::MountFailed)
      break;
  }
  return fail(out, last);
}

}  // namespace

Request parseRequest(std::string_view tail) {
  Request request;
  bool unmount = false, list = false, haveImage = false, haveFolder = false;
  std::string_view rest = tail;
  while (true) {
    rest = trimmed(rest);
    if (rest.empty()) break;
    if (rest.size() < 2 || rest[0] != '/') return {};
    char key = upper(rest[1]);
    bool withValue = rest.size() >= 3 && rest[2] == ':';
    if (!withValue && rest.size() > 2 && !isBlank(rest[2])) return {};
    rest.remove_prefix(withValue ? 3 : 2);
    if (key == 'Q' && !withValue) {
      unmount = true;
    } else if (key == 'L' && !withValue) {
      list = true;
    } else if (key == 'D' && withValue) {
      std::string value = takeValue(rest, false);
      if (value.size() == 2 && value[1] == ':') value.pop_back();
      if (value.size() != 1 || upper(value[0]) < 'A' || upper(value[0]) > 'Z' || request.letter) return {};
      request.letter = upper(value[0]);
    } else if (key == 'I' && withValue && !haveImage) {
      request.image = takeValue(rest, true);
      haveImage = true;
    } else if (key == 'X' && withValue && !haveFolder) {
      request.folder = takeValue(rest, false);
      haveFolder = true;
    } else {
      return {};
    }
  }
  int modes = int(unmount) + int(list) + int(haveFolder) + int(request.letter != 0);
  if (modes != 1) return {};
  if (unmount) {
    request.kind = haveImage ? Request::Kind::Invalid : Request::Kind::Unmount;
  } else if (!haveImage || request.image.empty() || (haveFolder && request.folder.empty())) {
    request.kind = Request::Kind::Invalid;
  } else {
    request.kind = list ? Request::Kind::List : haveFolder ? Request::Kind::Extract : Request::Kind::Mount;
  }
  return request;
}

std::string formatMountRecords(const std::vector<MountRecord>& records) {
  std::string text;
  for (const MountRecord& r : records) {
    text += r.kind == MountRecord::Kind::VirtualDisk ? "attach" : "copies";
    text += '\t';
    text += r.letter;
    text += '\t';
    text += r.path;
    text += '\n';
  }
  return text;
}

std::vector<MountRecord> parseMountRecords(std::string_view text) {
  std::vector<MountRecord> records;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == text.npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // kind, TAB, letter, TAB, path; anything else is a damaged line and is ignored.
    if (line.size() < 10 || line[6] != '\t' || line[8] != '\t') continue;
    MountRecord r;
    if (line.substr(0, 6) == "attach")
      r.kind = MountRecord::Kind::VirtualDisk;
    else if (line.substr(0, 6) == "copies")
      r.kind = MountRecord::Kind::CopiedFolder;
    else
      continue;
    r.letter = upper(line[7]);
    if (r.letter < 'A' || r.letter > 'Z') continue;
    r.path = std::string(line.substr(9));
    records.push_back(r);
  }
  return records;
}

int runIsoTool(std::string_view commandTail, Backend& backend, toolio::LineSink& out) {
  Request request = parseRequest(commandTail);
  switch (request.kind) {
    case Request::Kind::Invalid: return fail(out, Problem::BadCommandLine);
    case Request::Kind::Unmount: return unmountAll(backend, out);
    case Request::Kind::Extract: return extract(request, backend, out);
    case Request::Kind::List: return list(request, backend, out);
    case Request::Kind::Mount: return mount(request, backend, out);
  }
  return 2;
}

}  // namespace iso
