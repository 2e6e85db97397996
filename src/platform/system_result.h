// How every platform call reports failure: it returns the system's own
// error code (errno on Linux, GetLastError on Windows) in `error`, 0 meaning
// success, together with the value it produces. Nothing is passed back
// through errno, thrown, or reduced to a bare flag; `systemReason` turns a
// code into the text shown to the user.
#pragma once

#include <string>

namespace qex {

// A call that produces nothing but success or failure.
struct SystemStatus {
    int error = 0;  // 0, or the system's error code
    bool ok() const { return error == 0; }
};

// A call that produces a value; `value` means something only when ok().
template <class T>
struct SystemResult {
    T value{};
    int error = 0;  // 0, or the system's error code
    bool ok() const { return error == 0; }
};

// Text of a system error code ("No such file or directory").
std::string systemReason(int error);

}  // namespace qex
