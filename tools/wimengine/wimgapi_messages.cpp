#include "tools/wimengine/wimgapi_messages.h"

namespace wimengine {

namespace wimmsg {
bool carriesPath(std::uint32_t message) {
  return message == kProcess || message == kError || message == kRetry || message == kWarning ||
         message == kCompress || message == kAlignment;
}
}  // namespace wimmsg

namespace {

char16_t foldAscii(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - u'a' + u'A');
  if (c == u'/') return u'\\';
  return c;
}

bool equalsFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

std::u16string withoutTrailingSlash(std::u16string path) {
  while (path.size() > 1 && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  return path;
}

// Left out of every capture, as Windows' own imaging tools do: system scratch files
// that are useless or harmful in an image.
const char16_t* const kDefaultExclusions[] = {
    u"$ntfs.log", u"hiberfil.sys", u"pagefile.sys", u"swapfile.sys",
    u"System Volume Information", u"RECYCLER", u"Windows\\CSC",
};

}  // namespace

std::string driveToRoot(const std::string& path) {
  bool bareDrive = path.size() == 2 && path[1] == ':' &&
                   ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return bareDrive ? path + "\\" : path;
}

WimgapiMessageHandler::WimgapiMessageHandler(toolio::Progress& progress, Step errorStep, std::u16string sourceRoot,
                                             std::vector<std::u16string> excluded)
    : progress_(progress), errorStep_(errorStep) {
  for (auto& path : excluded)
    if (!path.empty()) excluded_.push_back(withoutTrailingSlash(path));
  if (!sourceRoot.empty()) {
    std::u16string root = withoutTrailingSlash(sourceRoot);
    for (const char16_t* name : kDefaultExclusions) excluded_.push_back(root + u"\\" + name);
  }
}

bool WimgapiMessageHandler::isExcluded(std::u16string_view path) const {
  std::u16string clean = withoutTrailingSlash(std::u16string(path));
  for (const auto& excluded : excluded_) {
    if (equalsFolded(clean, excluded)) return true;
    if (clean.size() > excluded.size() && foldAscii(clean[excluded.size()]) == u'\\' &&
        equalsFolded(std::u16string_view(clean).substr(0, excluded.size()), excluded))
      return true;
  }
  return false;
}

MessageReply WimgapiMessageHandler::handle(std::uint32_t message, std::uint64_t wParam, std::int64_t lParam,
                                           std::u16string_view path) {
  MessageReply reply;
  switch (message) {
    case wimmsg::kProgress: {
      // WIMGAPI sends 0 before it has an estimate; only the end really has none left.
      std::int64_t remaining = (lParam > 0 || wParam >= 100) ? lParam : -1;
      progress_.report(wParam > 100 ? 100 : wParam, 100, remaining < 0 ? -1 : remaining);
      break;
    }
    case wimmsg::kProcess:
      reply.skipFile = isExcluded(path);
      break;
    case wimmsg::kError:
      if (!firstError_) {
        Failure failure;
        failure.code = lParam;
        failure.kind = kindOfWin32Error(std::uint32_t(lParam), errorStep_);
        firstError_ = failure;
      }
      break;
    default:
      break;
  }
  return reply;
}

}  // namespace wimengine
