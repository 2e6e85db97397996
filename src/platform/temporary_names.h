// Names for the temporary beside a final name: ".NAME-XXXXXX" in the same
// folder, NAME the final name's last component and X six letters or digits
// drawn from `entropy` (each system supplies its own: process id, clock,
// call count). Mixed, so that neighbouring inputs give unrelated names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qex {

std::string temporaryNameBeside(std::string_view finalPath, uint64_t entropy);

}  // namespace qex
