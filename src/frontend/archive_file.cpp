// Reading an archive file's directory for a command; see archive_file.h.
#include "frontend/archive_file.h"

#include "platform/file_io.h"

namespace qex {

namespace {

ArchiveSource fileArchiveSource(FileHandle file, uint64_t size) {
    ArchiveSource source;
    source.size = size;
    source.readAt = [file](uint64_t offset, uint8_t* dest, size_t count) {
        if (!seekTo(file, static_cast<int64_t>(offset)).ok()) return false;
        const SystemResult<size_t> got = readFull(file, dest, count);
        return got.ok() && got.value == count;
    };
    return source;
}

}  // namespace

bool loadArchiveDirectory(CommandOutcome& outcome, const std::string& archivePath, Directory& directory,
                          uint64_t& archiveBytes) {
    const SystemResult<FileHandle> opened = openForRead(archivePath.c_str());
    if (!opened.ok()) {
        reportFatal(outcome, "cannot open archive", archivePath, systemReason(opened.error));
        return false;
    }
    const FileHandle file = opened.value;
    const SystemResult<int64_t> size = fileSize(file);
    if (!size.ok()) {
        reportFatal(outcome, "cannot read archive", archivePath, systemReason(size.error));
        ignoreFailure(closeFile(file));  // only read from
        return false;
    }
    const ArchiveSource source = fileArchiveSource(file, static_cast<uint64_t>(size.value));
    std::string problem;
    bool looksLikeArchive = false;
    const bool accepted = readDirectory(source, directory, problem, &looksLikeArchive);
    ignoreFailure(closeFile(file));  // only read from
    if (!accepted)
        reportFatal(outcome, looksLikeArchive ? "invalid archive" : "not a qex archive (or its end is missing)",
                    archivePath, problem);
    archiveBytes = source.size;
    return accepted;
}

bool readsAsArchive(const std::string& path, int& error) {
    error = 0;
    const SystemResult<FileHandle> opened = openForRead(path.c_str());
    if (!opened.ok()) {
        error = opened.error;
        return false;
    }
    const SystemResult<int64_t> size = fileSize(opened.value);
    bool archive = false;
    if (!size.ok()) {
        error = size.error;
    } else if (size.value == 0) {
        archive = true;
    } else {
        Directory directory;
        std::string problem;
        archive = readDirectory(fileArchiveSource(opened.value, static_cast<uint64_t>(size.value)), directory, problem);
    }
    ignoreFailure(closeFile(opened.value));  // only read from
    return archive;
}

}  // namespace qex
