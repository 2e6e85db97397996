// Linux side of the standard streams: fcntl, open on /dev/null, and
// SIGPIPE and SIGXFSZ ignored (see standard_streams.h).
#include "platform/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace qex {

void makeStandardStreamsSafe() {
    // In ascending order: open gives the lowest free number, which is the
    // closed one, since every lower one is open by then.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
    ::signal(SIGPIPE, SIG_IGN);
    // A file size limit (ulimit -f) makes the write fail with EFBIG rather
    // than kill the process: the usual failure path then reports it and
    // removes what it left unfinished.
    ::signal(SIGXFSZ, SIG_IGN);
}

FileIdentity identityOfStandardOutput() { return identityOfFile(STDOUT_FILENO); }

}  // namespace qex
