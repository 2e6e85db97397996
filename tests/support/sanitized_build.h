// What tests need to know of a sanitizer build: whether this is one (every
// run of the executable is several times slower there: tests that loop over
// many runs use a smaller input, never fewer kinds of case), and standard
// error without the note the address sanitizer adds to every run.
#pragma once

#include <string>

namespace qex::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(undefined_behavior_sanitizer)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// Standard error without the note an address-sanitizer build prints about
// the coder's context switch, so that sanitizer builds check the same lines.
inline std::string withoutSanitizerNotes(const std::string& err) {
    std::string kept;
    size_t position = 0;
    while (position < err.size()) {
        size_t end = err.find('\n', position);
        end = end == std::string::npos ? err.size() : end + 1;
        const std::string line = err.substr(position, end - position);
        if (!(line.rfind("==", 0) == 0 && line.find("WARNING: ASan") != std::string::npos)) kept += line;
        position = end;
    }
    return kept;
}

}  // namespace qex::test
