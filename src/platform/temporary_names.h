// Names for the temporary beside a final name: ".NAME-XXXXXX" in the same
// folder, NAME the final name's last component and X six letters or digits
// drawn from `entropy` (each system supplies its own: process id, clock,
// call count). Mixed, so that neighbouring inputs give unrelated names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qex {

// Whatever NAME's length, the temporary's own name fits `maxNameBytes`, the
// folder's limit on a name (255 bytes on Linux file systems): NAME is cut,
// at a character boundary, so that a final name at the limit still gets a
// temporary (".", NAME, "-" and six characters take 8 bytes more).
std::string temporaryNameBeside(std::string_view finalPath, uint64_t entropy, size_t maxNameBytes);

}  // namespace qex
