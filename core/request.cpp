#include "core/request.h"

#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace core {

ImageKind imageKindOf(std::string_view path) {
  const std::string extension = gbk::toUpperAscii(extensionOf(path));
  if (extension == ".GHO") return ImageKind::Gho;
  if (extension == ".WIM") return ImageKind::Wim;
  if (extension == ".ISO") return ImageKind::Iso;
  return ImageKind::Unsupported;
}

}  // namespace core
