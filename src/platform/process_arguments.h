// The process's command line as UTF-16 arguments, argument 0 being the
// program. Linux has only the argv bytes (converted as native names, so
// that every name survives); Windows splits its own wide command line by
// the shell's rule and ignores argv, whose bytes would have passed through
// a code page.
#pragma once

#include <string>
#include <vector>

namespace qex {

std::vector<std::u16string> processArguments(int argc, char** argv);

}  // namespace qex
