// Reading an archive file's directory for a command; see archive_file.h.
#include "frontend/archive_file.h"

#include "platform/file_io.h"

namespace qex {

bool loadArchiveDirectory(CommandOutcome& outcome, const std::string& archivePath, Directory& directory,
                          uint64_t& archiveBytes) {
    int error = 0;
    const FileHandle file = openForRead(archivePath.c_str(), error);
    if (file == kNoFile) {
        reportFatal(outcome, "cannot open archive", archivePath, systemReason(error));
        return false;
    }
    const int64_t size = fileSize(file, error);
    if (size < 0) {
        reportFatal(outcome, "cannot read archive", archivePath, systemReason(error));
        closeFile(file, error);
        return false;
    }
    ArchiveSource source;
    source.size = static_cast<uint64_t>(size);
    source.readAt = [file, &error](uint64_t offset, uint8_t* dest, size_t count) {
        return seekTo(file, static_cast<int64_t>(offset), error) >= 0 &&
               readFull(file, dest, count, error) == static_cast<int64_t>(count);
    };
    std::string problem;
    const bool accepted = readDirectory(source, directory, problem);
    int ignored = 0;
    closeFile(file, ignored);
    if (!accepted) reportFatal(outcome, "invalid archive", archivePath, problem);
    archiveBytes = source.size;
    return accepted;
}

}  // namespace qex
