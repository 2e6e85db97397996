// Windows side of removing an unfinished archive on an interrupt: a console
// control handler (Ctrl+C, Ctrl+Break, the console closing). The handler
// runs on a thread of its own; it removes the armed file if the path still
// names it, then lets the default handling end the process.
#include "platform/interrupt_cleanup.h"

#include <atomic>
#include <string>

#include "platform/file_identity.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

// The console's handlers belong to the whole process: one armed file.
struct ArmedFile {
    std::string path;
    FileIdentity identity;
    std::atomic<bool> armed{false};
};

ArmedFile& armedFile() {
    static ArmedFile file;
    return file;
}

BOOL WINAPI onConsoleControl(DWORD /*event*/) {
    ArmedFile& file = armedFile();
    // Nothing can be reported from here: the process ends either way.
    if (file.armed.exchange(false)) ignoreFailure(removeIfSameFile(file.path.c_str(), file.identity));
    return FALSE;  // the default handler ends the process
}

}  // namespace

bool armRemovalOnInterrupt(const char* path, FileHandle handle) {
    const FileIdentity identity = identityOfFile(handle);
    if (!identity.known || !identity.regular) return false;
    ArmedFile& file = armedFile();
    file.path = path;
    file.identity = identity;
    file.armed.store(true);
    if (!SetConsoleCtrlHandler(&onConsoleControl, TRUE)) {
        file.armed.store(false);
        return false;
    }
    return true;
}

void disarmRemovalOnInterrupt() {
    armedFile().armed.store(false);
    SetConsoleCtrlHandler(&onConsoleControl, FALSE);
}

}  // namespace qex
