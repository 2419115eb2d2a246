#include "core/request.h"

#include "core/path_and_size.h"
#include "platform/gbk.h"

namespace core {

ImageKind imageKindOf(std::string_view path) {
  const std::string extension = gbk::toUpperAscii(extensionOf(path));
  if (extension == ".GHO") return ImageKind::Gho;
  // ESD images and split sets install the WIM way.
  if (extension == ".WIM" || extension == ".ESD" || extension == ".SWM") return ImageKind::Wim;
  if (extension == ".ISO") return ImageKind::Iso;
  return ImageKind::Unsupported;
}

}  // namespace core
