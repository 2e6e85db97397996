// Extraction to standard output; see contents_output.h.
#include "frontend/contents_output.h"

#include <memory>

#include "archive/archived_paths.h"
#include "frontend/item_selection.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/spool_file.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"

namespace qex {

namespace {

// A link's bytes are its target, not contents, on every system.
bool storesLink(const ArchiveEntry& entry) {
    return carriesUnixMode(entry.attributes) && isSymbolicLinkMode(storedUnixMode(entry.creationTime));
}

void reportRunFailures(CommandOutcome& outcome, const std::string& archivePath,
                       const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) {
        switch (failure.kind) {
            case FailureKind::fileWriteFailed:  // as for console text (console_output.h)
                reportWarning(outcome, "cannot write to standard output", "", failure.reason);
                break;
            case FailureKind::fileIncomplete:
                reportFatal(outcome, "damaged archive: the file", failure.path, failure.reason);
                break;
            case FailureKind::workerStartFailed:
                reportFatal(outcome, "cannot start the coder", failure.path, failure.reason);
                break;
            default:  // reading the archive failed, or bytes beyond the last file
                reportFatal(outcome, "damaged archive", failure.path.empty() ? archivePath : failure.path,
                            failure.reason);
                break;
        }
    }
}

}  // namespace

int extractContents(CommandOutcome& outcome, OpenedArchive& archive, const std::vector<std::u16string>& items,
                    ConsoleOutput& console) {
    const Directory& directory = archive.directory;
    const ItemSelection selection = selectNamedItems(outcome, directory, items);
    const SystemResult<FileHandle> output = duplicateStandardOutput();
    if (!output.ok()) {
        reportFatal(outcome, "cannot write to standard output", "", systemReason(output.error));
        return outcome.exitCode;
    }
    const FileHandle stream = takeArchiveStream(outcome, archive);
    if (stream == kNoFile) {
        ignoreFailure(closeFile(output.value));  // nothing was written to it
        return outcome.exitCode;
    }
    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun run;
    if (!startContentsRun(run, *pipeline, stream, archive.path, output.value)) {
        reportRunFailures(outcome, archive.path, finishRun(run));
        return outcome.exitCode;
    }
    ProgressCounters counters;
    ProgressPrinter printer;
    startRunProgress(printer, console, ProgressKind::extract, run, counters);

    // One per file entry, reserved once: the writer fills them by address.
    std::vector<FileEntry> files;
    files.reserve(directory.entries.size());
    ArchivedPathWalker walker;
    const size_t end = items.empty() ? directory.entries.size() : selection.fileEntriesEnd;
    for (size_t k = 0; k < end; ++k) {
        const ArchiveEntry& entry = directory.entries[k];
        const std::u16string& path = nextArchivedPath(walker, entry, directory.names[k]);
        if (isFolder(entry)) continue;
        FileEntry& file = files.emplace_back();
        file.size = entrySize(entry);
        file.crc = entry.crc;
        file.crcPlusOne = entry.crcPlusOne;
        const bool taken = items.empty() || selection.taken[k];
        if (taken && !storesLink(entry)) counters.files.fetch_add(1, std::memory_order_relaxed);
        const QueueResult queued = taken && !storesLink(entry)
                                       ? queueFile(run, path, file.size, &file)
                                       : queuePassThrough(run, {}, file.size, file);
        if (queued == QueueResult::runStopped) break;
    }
    // Only the files asked for: the stream is decoded up to the last of them.
    const std::vector<PipelineFailure> failures =
        finishRun(run, items.empty() ? RunEnd::wholeStream : RunEnd::afterQueuedFiles);
    finishProgressPrinter(printer);
    reportRunFailures(outcome, archive.path, failures);
    ArchivedPathWalker again;
    for (size_t k = 0, file = 0; k < end && file < files.size(); ++k) {
        const std::u16string& path = nextArchivedPath(again, directory.entries[k], directory.names[k]);
        if (isFolder(directory.entries[k])) continue;
        const FileEntry& entry = files[file++];
        if (entry.received && !entry.damaged) continue;
        if (entry.received)
            reportFatal(outcome, "damaged archive: the file", utf16ToNative(path), "check value mismatch");
        break;  // the run stopped at the first damage
    }
    return outcome.exitCode;
}

}  // namespace qex
