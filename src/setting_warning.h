// Tells the user about an environment setting the core refused: one line on standard error,
// once per variable and text, so that a loop making registers does not repeat it.
#pragma once

#include <string_view>

#include "qubit/state/env_setting.h"

namespace zelvanic {

// Writes "zelvanic: ignoring NAME='text': wanted WANTED; using the default" when `setting`
// was refused and this text was not reported before. Leaves any pending exception alone.
void warn_if_refused(const char* name, const qubit::CountSetting& setting, std::string_view wanted);

}  // namespace zelvanic
