// The questions asked before touching a partition in a risky state: a BitLocker
// volume, a hibernated Windows, NTFS marked dirty, as the lister read them when it
// listed the target.
#pragma once

#include <string>

#include "core/request.h"
#include <vector>
#include "onekey/services.h"

namespace onekey {

// Yes/No with the warning icon: Yes goes on, No stops.
inline constexpr unsigned kRiskQuestionBox = ui::kYesNo | ui::kIconExclamation | ui::kTaskModal;

// The questions this request raises for these risks, in the order they are asked.
std::vector<std::string> riskQuestions(const core::Request& request, const core::VolumeRisks& risks);

// Asks them about the request's target; false as soon as one is answered No.
bool confirmVolumeRisks(Services& s, ui::Window& owner, const core::Request& request);

}  // namespace onekey
