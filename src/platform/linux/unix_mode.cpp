// Linux side of the stored Unix modes: the umask, fchmod, readlink.
#include "platform/unix_mode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace qex {

namespace {

// The umask from /proc, which shows it without changing it (Linux 4.7
// and later); -1 when it cannot be read there.
int umaskFromProc() {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status == nullptr) return -1;
    char line[256];
    int found = -1;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        unsigned value = 0;
        if (std::sscanf(line, "Umask: %o", &value) == 1) {
            found = static_cast<int>(value & 0777);
            break;
        }
    }
    std::fclose(status);
    return found;
}

}  // namespace

ModeRule currentModeRule() {
    ModeRule rule;
    rule.exact = ::geteuid() == 0;
    rule.owners = rule.exact;
    int mask = umaskFromProc();
    if (mask < 0) {
        // Older systems: the only other way reads it by setting it.
        mask = static_cast<int>(::umask(022));
        ::umask(static_cast<mode_t>(mask));
    }
    rule.umask = static_cast<uint16_t>(mask);
    return rule;
}

SystemStatus applyStoredMode(FileHandle item, const ModeRule& rule, uint16_t attributes, uint64_t creationTime,
                             uint16_t unmarkedMode) {
    const mode_t bits = carriesUnixMode(attributes) ? permissionsToApply(rule, storedUnixMode(creationTime), attributes)
                                                    : unmarkedMode & ~rule.umask & kModePermissionBits;
    return ::fchmod(item, bits) == 0 ? SystemStatus{} : SystemStatus{errno};
}

namespace {

// readlinkat into a buffer that grows until the target fits.
SystemResult<std::string> readTargetAt(int folder, const char* name) {
    std::string target(256, '\0');
    for (;;) {
        const ssize_t got = ::readlinkat(folder, name, target.data(), target.size());
        if (got < 0) return {{}, errno};
        if (static_cast<size_t>(got) < target.size()) {
            target.resize(static_cast<size_t>(got));
            return {std::move(target), 0};
        }
        // Possibly cut short: try again with room to spare.
        target.assign(target.size() * 2, '\0');
    }
}

}  // namespace

SystemResult<std::string> readLinkTarget(const char* path) { return readTargetAt(AT_FDCWD, path); }

// An empty name reads the link the descriptor itself stands for.
SystemResult<std::string> readOpenLinkTarget(FileHandle link) { return readTargetAt(link, ""); }

}  // namespace qex
