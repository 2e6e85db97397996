// The extract command (see extract_command.h).
#include "frontend/extract_command.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/directory_reader.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_attributes.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/within_folder.h"

namespace qex {

ItemPlaces placeItems(const std::vector<ArchiveEntry>& entries, const std::vector<std::u16string>& names) {
    ItemPlaces places;
    places.folders.emplace_back();
    places.folderOf.reserve(entries.size());
    std::vector<uint32_t> folderAtDepth(1, 0);  // per depth: where its items lie
    for (size_t k = 0; k < entries.size(); ++k) {
        const size_t depth = entries[k].depth;
        places.folderOf.push_back(folderAtDepth[depth]);
        if (!isFolder(entries[k])) continue;
        if (folderAtDepth.size() < depth + 2) folderAtDepth.resize(depth + 2);
        folderAtDepth[depth + 1] = static_cast<uint32_t>(places.folders.size());
        places.folders.push_back(placeOf(places, names, k) + kPathSeparator);
    }
    return places;
}

std::string placeOf(const ItemPlaces& places, const std::vector<std::u16string>& names, size_t k) {
    return places.folders[places.folderOf[k]] + utf16ToNative(names[k]);
}

namespace {

// Reads and checks the directory through a handle of its own.
bool loadDirectory(CommandOutcome& outcome, const std::string& archivePath, Directory& directory) {
    const SystemResult<FileHandle> opened = openForRead(archivePath.c_str());
    if (!opened.ok()) {
        reportFatal(outcome, "cannot open archive", archivePath, systemReason(opened.error));
        return false;
    }
    const FileHandle file = opened.value;
    const SystemResult<int64_t> size = fileSize(file);
    if (!size.ok()) {
        reportFatal(outcome, "cannot read archive", archivePath, systemReason(size.error));
        closeFile(file);
        return false;
    }
    ArchiveSource source;
    source.size = static_cast<uint64_t>(size.value);
    source.readAt = [file](uint64_t offset, uint8_t* dest, size_t count) {
        if (!seekTo(file, static_cast<int64_t>(offset)).ok()) return false;
        const SystemResult<size_t> got = readFull(file, dest, count);
        return got.ok() && got.value == count;
    };
    std::string problem;
    const bool accepted = readDirectory(source, directory, problem);
    closeFile(file);
    if (!accepted) reportFatal(outcome, "invalid archive", archivePath, problem);
    return accepted;
}

struct ExtractRun {
    CommandOutcome& outcome;
    PipelineRun& pipeline;
    ProgressCounters& counters;
    const Directory& directory;
    std::string target;  // full path of the target folder
    FileHandle targetFolder = kNoFile;
    // One per file entry, reserved once: the writer fills them by address.
    std::vector<FileEntry> files;
    // Per entry: it is a folder this run could not create (or find), so
    // nothing below it exists either.
    std::vector<bool> folderMissing;
    ItemPlaces places;
};

FileEntry fileEntryOf(const ArchiveEntry& entry) {
    FileEntry file;
    file.size = entrySize(entry);
    file.crc = entry.crc;
    file.crcPlusOne = entry.crcPlusOne;
    file.attributes = entry.attributes;
    file.creationTime = entry.creationTime;
    file.lastWriteTime = entry.lastWriteTime;
    file.lastAccessTime = entry.lastAccessTime;
    return file;
}

void applyFolderAttributes(ExtractRun& run, const std::string& path, uint16_t attributes) {
    const std::string full = joinPath(run.target, path);
    const SystemStatus applied = applyPathAttributes(full.c_str(), attributes);
    if (!applied.ok())
        reportWarning(run.outcome, "cannot set the attributes of folder", full, systemReason(applied.error));
}

// First pass: folders are made at once, files are queued for the writer.
// Folders come before their contents in the directory, so every folder
// exists before a job for anything inside it is queued.
void createItems(ExtractRun& run) {
    const std::vector<ArchiveEntry>& entries = run.directory.entries;
    run.files.reserve(entries.size());
    run.folderMissing.assign(entries.size(), false);
    run.places = placeItems(entries, run.directory.names);
    std::vector<bool> missingAt(1, false);  // per depth: its folder is missing
    for (size_t k = 0; k < entries.size(); ++k) {
        const ArchiveEntry& entry = entries[k];
        const bool folder = isFolder(entry);
        const std::string path = placeOf(run.places, run.directory.names, k);
        if (missingAt.size() < size_t{entry.depth} + 2) missingAt.resize(size_t{entry.depth} + 2);
        if (folder) {
            run.counters.folders.fetch_add(1, std::memory_order_relaxed);
            const SystemResult<bool> made = missingAt[entry.depth]
                                                ? SystemResult<bool>{false, ENOENT}
                                                : makeFolderWithin(run.targetFolder, path.c_str());
            const int error = made.error;
            if (error != 0 && !missingAt[entry.depth])
                reportWarning(run.outcome, "cannot create folder", joinPath(run.target, path),
                              systemReason(error));
            // A folder that was there already keeps its own attributes.
            if (error == 0 && made.value) applyFolderAttributes(run, path, entry.attributes);
            run.folderMissing[k] = error != 0;
            missingAt[size_t{entry.depth} + 1] = error != 0;
            continue;
        }
        run.counters.files.fetch_add(1, std::memory_order_relaxed);
        // A file below a missing folder is still queued: the writer fails to
        // create it, says so, and skips its bytes so the next file gets its own.
        run.files.push_back(fileEntryOf(entry));
        const QueueResult queued = queueFile(run.pipeline, nativeToUtf16(path), entrySize(entry), &run.files.back());
        // Its bytes pass unwritten; the files after it are still extracted.
        if (queued == QueueResult::nameTooLong)
            reportWarning(run.outcome, "cannot create file", joinPath(run.target, path), "the path is too long");
        if (queued == QueueResult::runStopped) return;  // the pipeline's report says why
    }
}

void reportPipelineFailures(ExtractRun& run, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) {
        const std::string file = joinPath(run.target, failure.path);
        switch (failure.kind) {
            case FailureKind::fileNotCreated:
                reportWarning(run.outcome, "cannot create file", file, failure.reason);
                break;
            case FailureKind::fileWriteFailed:
                reportWarning(run.outcome, "cannot write file", file, failure.reason);
                break;
            case FailureKind::fileIncomplete:
                reportFatal(run.outcome, "incomplete file", file, failure.reason);
                break;
            case FailureKind::archiveReadFailed:
                reportFatal(run.outcome, "cannot read archive", failure.path, failure.reason);
                break;
            case FailureKind::extraData:
                reportFatal(run.outcome, "damaged archive", failure.path, failure.reason);
                break;
            case FailureKind::workerStartFailed:
                reportFatal(run.outcome, "cannot start the coder", failure.path, failure.reason);
                break;
            default:
                reportFatal(run.outcome, "extraction failed", failure.path, failure.reason);
                break;
        }
    }
}

// Every file that received all its bytes must carry the check values stored
// for it; a mismatch means the archive is damaged.
void verifyCheckValues(ExtractRun& run) {
    const std::vector<ArchiveEntry>& entries = run.directory.entries;
    size_t file = 0;
    for (size_t k = 0; k < entries.size() && file < run.files.size(); ++k) {
        if (isFolder(entries[k])) continue;
        const FileEntry& written = run.files[file++];
        if (!written.written) continue;  // already reported by the writer
        if (written.writtenCrc == written.crc && written.writtenCrcPlusOne == written.crcPlusOne)
            continue;
        char values[96];
        std::snprintf(values, sizeof values, "stored %08X %08X, computed %08X %08X", written.crc,
                      written.crcPlusOne, written.writtenCrc, written.writtenCrcPlusOne);
        reportFatal(run.outcome, "check value mismatch in",
                    joinPath(run.target, placeOf(run.places, run.directory.names, k)), values);
    }
}

// Second pass: the folders' times, set last because creating their
// contents changed them.
void stampFolders(ExtractRun& run) {
    const std::vector<ArchiveEntry>& entries = run.directory.entries;
    for (size_t k = 0; k < entries.size(); ++k) {
        const ArchiveEntry& entry = entries[k];
        if (!isFolder(entry) || run.folderMissing[k]) continue;
        const std::string path = placeOf(run.places, run.directory.names, k);
        const SystemResult<FileHandle> handle = openFolderWithin(run.targetFolder, path.c_str());
        int error = handle.error;
        if (handle.ok()) {
            error = setFileTimes(handle.value, entry.creationTime, entry.lastAccessTime, entry.lastWriteTime).error;
            closeFile(handle.value);
        }
        if (error != 0)
            reportWarning(run.outcome, "cannot set the times of folder", joinPath(run.target, path),
                          systemReason(error));
    }
}

}  // namespace

int runExtract(const std::u16string& archivePath16, const std::u16string& targetPath16) {
    CommandOutcome outcome;
    const std::string archivePath = utf16ToNative(archivePath16);
    Directory directory;
    if (!loadDirectory(outcome, archivePath, directory)) return outcome.exitCode;

    const std::string targetNative = utf16ToNative(targetPath16);
    const SystemResult<std::string> resolved = fullPath(targetNative);
    if (!resolved.ok()) {
        reportFatal(outcome, "cannot resolve target folder", targetNative, systemReason(resolved.error));
        return outcome.exitCode;
    }
    const std::string& target = resolved.value;
    const SystemResult<FileHandle> openedTarget = openTargetFolder(target.c_str());
    if (!openedTarget.ok()) {
        reportFatal(outcome, "cannot open target folder", target, systemReason(openedTarget.error));
        return outcome.exitCode;
    }
    const FileHandle targetFolder = openedTarget.value;
    const SystemResult<FileHandle> openedArchive = openForRead(archivePath.c_str());
    if (!openedArchive.ok()) {
        reportFatal(outcome, "cannot open archive", archivePath, systemReason(openedArchive.error));
        closeFile(targetFolder);
        return outcome.exitCode;
    }
    const FileHandle archive = openedArchive.value;

    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun pipelineRun;
    if (!startExtractRun(pipelineRun, *pipeline, archive, archivePath, targetFolder)) {
        ProgressCounters none;
        ExtractRun failed{outcome, pipelineRun, none, directory, target, targetFolder, {}, {}, {}};
        reportPipelineFailures(failed, finishRun(pipelineRun));
        closeFile(targetFolder);
        return kExitFatal;
    }

    ProgressCounters counters;
    ProgressPrinter printer;
    const RunProgress progress = progressOf(pipelineRun);
    attachProgressPrinter(printer, ProgressKind::extract, *progress.finishedFiles, counters, *progress.coderIn,
                          *progress.coderOut);
    printer.namePrefix = nativeToConsole(withoutLongPathPrefix(target));
    startProgressPrinter(printer);

    ExtractRun run{outcome, pipelineRun, counters, directory, target, targetFolder, {}, {}, {}};
    createItems(run);
    const std::vector<PipelineFailure> failures = finishRun(pipelineRun);
    finishProgressPrinter(printer);

    reportPipelineFailures(run, failures);
    verifyCheckValues(run);
    stampFolders(run);
    closeFile(targetFolder);
    return outcome.exitCode;
}

}  // namespace qex
