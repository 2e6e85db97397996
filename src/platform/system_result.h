// How every platform call reports failure: it returns the system's own
// error code (errno on Linux, GetLastError on Windows) in `error`, 0 meaning
// success, together with the value it produces. Nothing is passed back
// through errno, thrown, or reduced to a bare flag; `systemReason` turns a
// code into the text shown to the user.
#pragma once

#include <string>

namespace qex {

// A call that produces nothing but success or failure.
struct [[nodiscard]] SystemStatus {
    int error = 0;  // 0, or the system's error code
    bool ok() const { return error == 0; }
};

// A call that produces a value; `value` means something only when ok().
template <class T>
struct [[nodiscard]] SystemResult {
    T value{};
    int error = 0;  // 0, or the system's error code
    bool ok() const { return error == 0; }
};

// Both are [[nodiscard]]: a result is handled, or dropped visibly with
// ignoreFailure where nothing better can be done (a close after the data is
// safe, clean-up on a path that already fails).
inline void ignoreFailure(const SystemStatus&) {}
template <class T>
inline void ignoreFailure(const SystemResult<T>&) {}

// Text of a system error code ("No such file or directory").
std::string systemReason(int error);

}  // namespace qex
