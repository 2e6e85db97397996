// Opening an archive for a command; see archive_file.h.
#include "frontend/archive_file.h"

#include <vector>

#include "frontend/commands.h"
#include "platform/file_io.h"
#include "platform/listing.h"
#include "platform/spool_file.h"

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

constexpr size_t kSpoolBlockBytes = size_t{1} << 16;

// Copies everything `source` still holds into a new spool file, which is
// returned positioned at its start. `source` stays the caller's.
bool spool(CommandOutcome& outcome, const std::string& path, FileHandle source, FileHandle& spooled) {
    const SystemResult<FileHandle> created = createSpoolFile();
    if (!created.ok()) {
        reportFatal(outcome, "cannot create a temporary file for archive", path, systemReason(created.error));
        return false;
    }
    std::vector<uint8_t> block(kSpoolBlockBytes);
    for (;;) {
        const SystemResult<size_t> got = readFull(source, block.data(), block.size());
        if (!got.ok()) {
            reportFatal(outcome, "cannot read archive", path, systemReason(got.error));
            ignoreFailure(closeFile(created.value));  // a spool, dropped
            return false;
        }
        const SystemStatus written = writeAll(created.value, block.data(), got.value);
        if (!written.ok()) {
            reportFatal(outcome, "cannot write a temporary copy of archive", path, systemReason(written.error));
            ignoreFailure(closeFile(created.value));  // a spool, dropped
            return false;
        }
        if (got.value < block.size()) break;
    }
    spooled = created.value;
    return true;
}

// The archive's handle, readable at offsets.
bool openReadable(CommandOutcome& outcome, OpenedArchive& archive, const std::string& path) {
    FileHandle file = kNoFile;
    archive.path = path;
    if (path == kStandardStreamArgument) {
        if (standardInputIsTerminal()) {
            reportFatal(outcome, "refusing to read the archive from a terminal on standard input", "",
                        "pipe one in or name a file");
            return false;
        }
        const SystemResult<FileHandle> input = duplicateStandardInput();
        if (!input.ok()) {
            reportFatal(outcome, "cannot open archive", archive.path, systemReason(input.error));
            return false;
        }
        file = input.value;
    } else {
        // Said plainly: the system's own words would be "Access denied"
        // (Windows) or a trailer that cannot be read (Linux).
        if (examinePath(path).kind == ItemKind::Folder) {
            reportFatal(outcome, "cannot open archive", path, "it is a folder");
            return false;
        }
        const SystemResult<FileHandle> opened = openNamedForRead(path.c_str());
        if (!opened.ok()) {
            reportFatal(outcome, "cannot open archive", path, systemReason(opened.error));
            return false;
        }
        file = opened.value;
    }
    if (readsAtOffsets(file)) {
        archive.file = file;
        return true;
    }
    const bool spooled = spool(outcome, archive.path, file, archive.file);
    ignoreFailure(closeFile(file));  // only read from: nothing to lose
    return spooled;
}

}  // namespace

bool openArchive(CommandOutcome& outcome, const std::string& path, OpenedArchive& archive) {
    closeArchive(archive);
    if (!openReadable(outcome, archive, path)) return false;
    const FileHandle file = archive.file;
    const SystemResult<int64_t> size = fileSize(file);
    if (!size.ok()) {
        reportFatal(outcome, "cannot read archive", archive.path, systemReason(size.error));
        closeArchive(archive);
        return false;
    }
    const ArchiveSource source = fileArchiveSource(file, static_cast<uint64_t>(size.value));
    std::string problem;
    bool looksLikeArchive = false;
    if (!readDirectory(source, archive.directory, problem, &looksLikeArchive)) {
        reportFatal(outcome, looksLikeArchive ? "invalid archive" : "not a qex archive (or its end is missing)",
                    archive.path, problem);
        closeArchive(archive);
        return false;
    }
    archive.bytes = source.size;
    return true;
}

FileHandle takeArchiveStream(CommandOutcome& outcome, OpenedArchive& archive) {
    const SystemResult<int64_t> rewound = seekTo(archive.file, 0);
    if (!rewound.ok()) {
        reportFatal(outcome, "cannot read archive", archive.path, systemReason(rewound.error));
        closeArchive(archive);
        return kNoFile;
    }
    const FileHandle file = archive.file;
    archive.file = kNoFile;
    return file;
}

void closeArchive(OpenedArchive& archive) {
    if (archive.file != kNoFile) ignoreFailure(closeFile(archive.file));  // only read from
    archive.file = kNoFile;
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
