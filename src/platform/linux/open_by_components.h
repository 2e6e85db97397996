// The fallback of confined opening below a target (within_folder.h) where
// the system lacks openat2: exposed here for its tests.
#pragma once

#include <string_view>

#include "platform/system_result.h"

namespace qex {

// Resolves `path` component by component from the folder `target` with
// O_NOFOLLOW, refusing every symbolic link and "..". The value is the
// descriptor.
SystemResult<int> openByComponents(int target, std::string_view path, int flags, unsigned mode);

}  // namespace qex
