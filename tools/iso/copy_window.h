// The ISO tool's window for long copies. The program that started the tool has its
// controls locked and waits; this window says what is happening and lets the user
// cancel.
#pragma once

#include "tools/common/progress_window.h"

namespace iso {

toolio::ProgressWindowLayout copyWindowLayout();

}  // namespace iso
