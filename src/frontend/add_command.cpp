// The add command (see add_command.h).
#include "frontend/add_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/directory_builder.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/interrupt_cleanup.h"
#include "platform/listing.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"

namespace qex {

namespace {

// One folder being listed: its path (ending with a separator) and its
// matching items in listing order.
struct WalkLevel {
    std::string folder;
    std::vector<ListedItem> items;
    size_t next = 0;
};

struct FolderIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};

struct AddRun {
    CommandOutcome& outcome;
    PipelineRun& pipeline;
    DirectoryBuilder& directory;
    ProgressCounters& counters;
    FileIdentity archive;
    // The level stack: levels[d] lists the items at depth d. Its capacity
    // is reserved once, so references into it stay valid while it grows.
    std::vector<WalkLevel> levels;
    // Folders the current item lies in (the source's own ancestors
    // first): entering one of them again would loop.
    std::vector<FolderIdentity> ancestors;
    bool pipelineGone = false;  // no further job can be queued
};

bool isArchiveItself(const AddRun& run, const ListedItem& item) {
    return run.archive.known && item.kind == ItemKind::File && item.statError == 0 &&
           item.device == run.archive.device && item.inode == run.archive.inode;
}

ArchiveEntry entryOf(const ListedItem& item, uint32_t depth) {
    ArchiveEntry entry;
    setEntrySize(entry, item.kind == ItemKind::File ? item.size : 0);
    entry.depth = static_cast<uint8_t>(depth);
    entry.attributes = item.attributes;
    entry.creationTime = item.creationTime;
    entry.lastWriteTime = item.lastWriteTime;
    entry.lastAccessTime = item.lastAccessTime;
    return entry;
}

void enterFolder(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth) {
    if (depth > kMaxEnteredDepth) {
        reportWarning(run.outcome, "not entering folder (the archive holds 256 levels)", path);
        return;
    }
    for (const FolderIdentity& above : run.ancestors) {
        if (above.device == item.device && above.inode == item.inode) {
            reportWarning(run.outcome, "not entering folder (it leads back to a folder above it)", path);
            return;
        }
    }
    WalkLevel level;
    level.folder = joinPath(path, "");
    const SystemStatus listed = listPattern(level.folder + "*", level.items);
    if (!listed.ok()) {
        reportWarning(run.outcome, "cannot list folder", path, systemReason(listed.error));
        return;
    }
    run.levels.push_back(std::move(level));
    run.ancestors.push_back({item.device, item.inode});
}

void queueForReading(AddRun& run, const std::string& path, const ListedItem& item, PendingEntry& pending) {
    pending.queued = true;
    const QueueResult queued = queueFile(run.pipeline, nativeToUtf16(path), item.size, &pending.file);
    if (queued == QueueResult::queued) return;
    // The reader never saw the entry: it keeps no bytes.
    pending.queued = false;
    setEntrySize(pending.entry, 0);
    if (queued == QueueResult::nameTooLong) {
        reportWarning(run.outcome, "cannot read", path, "the path is too long");
    } else {
        run.pipelineGone = true;  // the pipeline's own report says why
    }
}

void addItem(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth) {
    if (item.kind == ItemKind::Special) {
        reportWarning(run.outcome, "skipping special file (FIFO, socket or device)", path);
        return;
    }
    if (isArchiveItself(run, item)) return;
    if (item.kind == ItemKind::File && item.size > kMaxFileBytes) {
        reportWarning(run.outcome, "skipping file of 2^40 bytes or more", path);
        return;
    }
    PendingEntry* pending = appendItem(run.directory, item.name, entryOf(item, depth));
    if (pending == nullptr) {
        reportWarning(run.outcome, "skipping item whose name is too long for the archive", path);
        return;
    }
    if (item.kind == ItemKind::Folder) {
        run.counters.folders.fetch_add(1, std::memory_order_relaxed);
        enterFolder(run, path, item, depth);
        return;
    }
    run.counters.files.fetch_add(1, std::memory_order_relaxed);
    run.counters.listedBytes.fetch_add(item.size, std::memory_order_relaxed);
    if (item.statError != 0) {
        reportWarning(run.outcome, "cannot read", path, systemReason(item.statError));
        return;
    }
    // An empty file has its entry and no job: a job of size 0 would read as
    // the end of the jobs.
    if (item.size != 0) queueForReading(run, path, item, *pending);
}

// The folders the source lies in, so that a link back to one of them is
// not entered.
void noteSourceAncestors(AddRun& run, const std::string& folder) {
    for (size_t end = 1; end <= folder.size(); ++end) {
        if (end != folder.size() && folder[end] != kPathSeparator) continue;
        const ListedItem above = examinePath(folder.substr(0, end));
        if (above.statError == 0 && above.kind == ItemKind::Folder)
            run.ancestors.push_back({above.device, above.inode});
    }
}

void walkSource(AddRun& run, const std::string& searchPath, bool contentsOnly) {
    WalkLevel first;
    first.folder = searchPath.substr(0, lastComponentStart(searchPath));
    const SystemStatus listed = listPattern(searchPath, first.items);
    if (!listed.ok()) {
        reportWarning(run.outcome, "cannot list folder", first.folder, systemReason(listed.error));
        return;
    }
    if (first.items.empty() && !contentsOnly) {
        reportWarning(run.outcome, "no file or folder matches", searchPath);
        return;
    }
    run.levels.reserve(kMaxEnteredDepth + 2);
    noteSourceAncestors(run, first.folder);
    const size_t sourceAncestors = run.ancestors.size();
    run.levels.push_back(std::move(first));
    while (!run.levels.empty() && !run.pipelineGone) {
        WalkLevel& level = run.levels.back();
        if (level.next == level.items.size()) {
            run.levels.pop_back();
            if (run.ancestors.size() > sourceAncestors) run.ancestors.pop_back();
            continue;
        }
        const ListedItem& item = level.items[level.next++];
        const uint32_t depth = static_cast<uint32_t>(run.levels.size() - 1);
        addItem(run, level.folder + item.nativeName, item, depth);
    }
}

// Failures the pipeline collected: unreadable sources are warnings, the rest
// (the coder could not start, the stream could not be written) is fatal.
void reportPipelineFailures(CommandOutcome& outcome, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) {
        switch (failure.kind) {
            case FailureKind::sourceUnreadable:
                reportWarning(outcome, "cannot read", failure.path, failure.reason);
                break;
            case FailureKind::workerStartFailed:
                reportFatal(outcome, "cannot start the coder", failure.path, failure.reason);
                break;
            default:
                reportFatal(outcome, "cannot write archive", failure.path, failure.reason);
                break;
        }
    }
}

// Appends the directory and the trailer behind the stream and closes the
// archive. False (reported) when anything of it fails.
bool finishArchive(CommandOutcome& outcome, const std::string& archivePath, FileHandle archive,
                   const DirectoryBuilder& directory) {
    if (!directoryFitsTrailer(directory)) {
        reportFatal(outcome, "cannot write archive", archivePath,
                    "the directory exceeds the 4 GiB its trailer can describe");
        return false;
    }
    SystemStatus status;
    const bool written = writeBuiltDirectory(directory, [&](const uint8_t* data, size_t size) {
        status = writeAll(archive, data, size);
        return status.ok();
    });
    if (!written) {
        reportFatal(outcome, "cannot write archive", archivePath, systemReason(status.error));
        closeFile(archive);
        return false;
    }
    status = closeFile(archive);
    if (!status.ok()) {
        reportFatal(outcome, "cannot write archive", archivePath, systemReason(status.error));
        return false;
    }
    return true;
}

// An archive that could not be completed is removed, but only when it is
// the regular file this run created: a device or pipe is left alone.
void discardArchive(const std::string& archivePath, const FileIdentity& identity) {
    if (identity.known && identity.regular) removeIfSameFile(archivePath.c_str(), identity);
}

}  // namespace

int runAdd(const std::u16string& archivePath16, const std::u16string& sourcePath16) {
    CommandOutcome outcome;
    const std::string archivePath = utf16ToNative(archivePath16);
    const SystemResult<FileHandle> created = createForWrite(archivePath.c_str());
    if (!created.ok()) {
        reportFatal(outcome, "cannot create archive", archivePath, systemReason(created.error));
        return outcome.exitCode;
    }
    const FileHandle archive = created.value;
    const FileIdentity archiveIdentity = identityOfFile(archive);
    // Until the command returns, an interrupt removes the unfinished archive
    // (a device or pipe given as the archive is never removed).
    armRemovalOnInterrupt(archivePath.c_str(), archive);
    struct Disarm {
        ~Disarm() { disarmRemovalOnInterrupt(); }
    } disarmOnReturn;

    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun pipelineRun;
    if (!startAddRun(pipelineRun, *pipeline, archive, archivePath)) {
        reportPipelineFailures(outcome, finishRun(pipelineRun));
        closeFile(archive);
        discardArchive(archivePath, archiveIdentity);
        return kExitFatal;
    }

    ProgressCounters counters;
    ProgressPrinter printer;
    const RunProgress progress = progressOf(pipelineRun);
    attachProgressPrinter(printer, ProgressKind::add, *progress.finishedFiles, counters, *progress.coderIn,
                          *progress.coderOut);

    DirectoryBuilder directory;
    AddRun run{outcome, pipelineRun, directory, counters, archiveIdentity, {}, {}, false};
    SystemResult<std::string> resolved = fullPath(utf16ToNative(sourcePath16));
    if (resolved.ok()) {
        std::string& searchPath = resolved.value;
        const bool contentsOnly = searchPath.back() == kPathSeparator;
        if (contentsOnly) searchPath.push_back('*');
        std::printf("<%s>\n", nativeToConsole(searchPath).c_str());
        std::fflush(stdout);
        startProgressPrinter(printer);
        walkSource(run, searchPath, contentsOnly);
    } else {
        reportWarning(outcome, "cannot resolve the source path", utf16ToNative(sourcePath16),
                      systemReason(resolved.error));
        startProgressPrinter(printer);
    }
    const std::vector<PipelineFailure> failures = finishRun(pipelineRun);
    finishProgressPrinter(printer);

    reportPipelineFailures(outcome, failures);
    if (outcome.exitCode == kExitFatal) {
        closeFile(archive);
        discardArchive(archivePath, archiveIdentity);
        return outcome.exitCode;
    }
    if (!finishArchive(outcome, archivePath, archive, directory))
        discardArchive(archivePath, archiveIdentity);
    return outcome.exitCode;
}

}  // namespace qex
