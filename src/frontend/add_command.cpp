// The add command (see add_command.h).
#include "frontend/add_command.h"

#include <set>
#include <utility>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/directory_builder.h"
#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/failure_messages.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/interrupt_cleanup.h"
#include "platform/listing.h"
#include "platform/output_replacement.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"

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
    FileIdentity archive{};          // the file being written
    FileIdentity previousArchive{};  // the file it replaces, if any
    // The level stack: levels[d] lists the items at depth d. Its capacity
    // is reserved once, so references into it stay valid while it grows.
    std::vector<WalkLevel> levels{};
    // Folders the current item lies in (the source's own ancestors
    // first): entering one of them again would loop.
    std::vector<FolderIdentity> ancestors{};
    bool pipelineGone = false;  // no further job can be queued
    // Names at depth 0 so far: two sources may give the same one.
    std::set<std::u16string> topNames{};
};

bool isFile(const FileIdentity& identity, const ListedItem& item) {
    return identity.known && item.kind == ItemKind::File && item.statError == 0 && item.device == identity.device &&
           item.inode == identity.inode;
}

// The archive being written, or the older one it replaces: neither is
// added (a source folder may hold the archive, a mask may match it).
bool isArchiveItself(const AddRun& run, const ListedItem& item) {
    return isFile(run.archive, item) || isFile(run.previousArchive, item);
}

bool hasContents(const ListedItem& item) { return item.kind == ItemKind::File || item.kind == ItemKind::Link; }

// The entry as listed. Where the system reports a Unix mode, the entry is
// marked and carries it (unix_mode.h).
ArchiveEntry entryOf(const ListedItem& item, uint32_t depth) {
    ArchiveEntry entry;
    setEntrySize(entry, hasContents(item) ? item.size : 0);
    entry.depth = static_cast<uint8_t>(depth);
    entry.attributes = item.attributes;
    entry.creationTime = item.creationTime;
    if (item.mode != 0) {
        entry.attributes |= kAttributeUnixMode;
        entry.creationTime = withUnixMode(item.creationTime, item.mode);
    }
    entry.lastWriteTime = item.lastWriteTime;
    entry.lastAccessTime = item.lastAccessTime;
    return entry;
}

void enterFolder(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth) {
    if (depth > kMaxEnteredDepth) {
        reportWarning(run.outcome, "not entering folder (the archive holds " + std::to_string(kDepthLevels) + " levels)",
                      path);
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
    if (hasContents(item) && item.size > kMaxFileBytes) {
        reportWarning(run.outcome, "skipping file of 2^" + std::to_string(kEntrySizeBits) + " bytes or more", path);
        return;
    }
    if (depth == 0 && !run.topNames.insert(item.name).second)
        reportWarning(run.outcome, "two sources give the same name (both kept; extraction keeps a folder, else the later)", path);
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
    // An empty file has its entry and no job: the reader has nothing to
    // deliver for it. A link's job delivers its target.
    pending->file.symbolicLink = item.kind == ItemKind::Link;
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

// One source as the command line named it, resolved and listed before
// anything is written.
struct CheckedSource {
    std::string searchPath;  // full path; "folder/*" for "folder/"
    std::vector<ListedItem> items;  // what it names or matches
};

void walkSource(AddRun& run, CheckedSource& source) {
    WalkLevel first;
    first.folder = source.searchPath.substr(0, lastComponentStart(source.searchPath));
    first.items = std::move(source.items);
    run.levels.reserve(kMaxEnteredDepth + 2);
    run.ancestors.clear();
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

// Resolves and lists a source. A source that cannot be resolved or
// listed, one that names nothing, a mask that matches nothing and the
// archive named as its own source are fatal, before anything is written.
bool checkSource(CommandOutcome& outcome, const std::string& source, const OutputPlace& archivePlace,
                 CheckedSource& checked) {
    SystemResult<std::string> resolved = fullPath(source);
    if (!resolved.ok()) {
        reportFatal(outcome, "cannot resolve the source path", source, systemReason(resolved.error));
        return false;
    }
    checked.searchPath = std::move(resolved.value);
    const bool contentsOnly = checked.searchPath.back() == kPathSeparator;
    if (contentsOnly) checked.searchPath.push_back('*');
    const std::string_view lastName = std::string_view(checked.searchPath).substr(lastComponentStart(checked.searchPath));
    if (contentsOnly) {
        // The folder must be there; it may be empty.
        const ListedItem folder = examinePath(checked.searchPath.substr(0, checked.searchPath.size() - 1));
        if (folder.statError != 0 || folder.kind != ItemKind::Folder) {
            reportFatal(outcome, "cannot find source folder", source,
                        folder.statError != 0 ? systemReason(folder.statError) : "not a folder");
            return false;
        }
    }
    const SystemStatus listed = listPattern(checked.searchPath, checked.items);
    if (!listed.ok()) {
        reportFatal(outcome, "cannot list source", source, systemReason(listed.error));
        return false;
    }
    if (checked.items.empty() && !contentsOnly) {
        if (hasWildcards(lastName)) {
            reportFatal(outcome, "no file or folder matches", source);
        } else {
            const int reason = examinePath(checked.searchPath).statError;
            reportFatal(outcome, "cannot find source", source, reason != 0 ? systemReason(reason) : "");
        }
        return false;
    }
    const FileIdentity& archive = archivePlace.existing;
    if (!contentsOnly && !hasWildcards(lastName) && checked.items.size() == 1 && isFile(archive, checked.items[0])) {
        reportFatal(outcome, "the source is the archive itself", source);
        return false;
    }
    return true;
}

// Failures the pipeline collected: unreadable sources are warnings, the rest
// (the coder could not start, the stream could not be written) is fatal.
void reportPipelineFailures(CommandOutcome& outcome, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) reportRunFailure(outcome, failure);
}

// Where the archive is written: a temporary beside its final name, renamed
// into place once complete; or, when the final name is not a regular file
// (a pipe, /dev/stdout, a device), that file itself, never removed.
struct ArchiveOutput {
    std::string finalPath;
    std::string writtenPath;  // the temporary, or the final path when direct
    bool direct = false;
    FileHandle file = kNoFile;
    FileIdentity written;
};

bool openArchiveOutput(CommandOutcome& outcome, const std::string& archivePath, const OutputPlace& place,
                       ArchiveOutput& output) {
    output.finalPath = place.finalPath;
    output.direct = place.direct;
    if (place.direct) {
        const SystemResult<FileHandle> opened = createForWrite(archivePath.c_str());
        if (!opened.ok()) {
            reportFatal(outcome, "cannot create archive", archivePath, systemReason(opened.error));
            return false;
        }
        output.file = opened.value;
        output.writtenPath = archivePath;
    } else {
        const SystemResult<TemporaryFile> created = createTemporaryBeside(place.finalPath);
        if (!created.ok()) {
            reportFatal(outcome, "cannot create archive", archivePath, systemReason(created.error));
            return false;
        }
        output.file = created.value.file;
        output.writtenPath = created.value.path;
    }
    output.written = identityOfFile(output.file);
    return true;
}

// An archive that could not be completed: its temporary is closed and
// removed; an archive written directly is only closed. Whatever stood at
// the final name stays as it was. The run has already failed with its own
// message, so a failure of this clean-up is not reported on top.
void discardArchive(ArchiveOutput& output) {
    if (output.file != kNoFile) ignoreFailure(closeFile(output.file));
    output.file = kNoFile;
    if (!output.direct) ignoreFailure(removeIfSameFile(output.writtenPath.c_str(), output.written));
}

// Appends the directory and the trailer behind the stream, forces it all to
// the device, closes the archive and renames it into place. False
// (reported) when anything of it fails.
bool finishArchive(CommandOutcome& outcome, const std::string& archivePath, ArchiveOutput& output,
                   const DirectoryBuilder& directory) {
    if (!directoryFitsTrailer(directory)) {
        reportFatal(outcome, "cannot write archive", archivePath,
                    "the directory exceeds the 4 GiB its trailer can describe");
        return false;
    }
    SystemStatus status;
    const bool written = writeBuiltDirectory(directory, [&](const uint8_t* data, size_t size) {
        status = writeAll(output.file, data, size);
        return status.ok();
    });
    if (written && !output.direct) status = flushToStorage(output.file);
    if (!status.ok()) {
        reportFatal(outcome, "cannot write archive", archivePath, systemReason(status.error));
        return false;
    }
    status = closeFile(output.file);
    output.file = kNoFile;
    if (!status.ok()) {
        reportFatal(outcome, "cannot write archive", archivePath, systemReason(status.error));
        return false;
    }
    if (output.direct) return true;
    status = replaceWithTemporary(output.writtenPath, output.finalPath);
    if (!status.ok()) {
        reportFatal(outcome, "cannot put the archive in place", archivePath, systemReason(status.error));
        return false;
    }
    return true;
}

}  // namespace

int runAdd(const std::u16string& archivePath16, const std::vector<std::u16string>& sources16,
           ConsoleOutput& console) {
    CommandOutcome outcome;
    const std::string archivePath = utf16ToNative(archivePath16);
    const SystemResult<OutputPlace> place = examineOutputPlace(archivePath);
    if (!place.ok()) {
        reportFatal(outcome, "cannot create archive", archivePath, systemReason(place.error));
        return outcome.exitCode;
    }
    // Every source is checked before anything is written.
    std::vector<CheckedSource> sources(sources16.size());
    for (size_t k = 0; k < sources16.size(); ++k)
        if (!checkSource(outcome, utf16ToNative(sources16[k]), place.value, sources[k])) return outcome.exitCode;

    ArchiveOutput output;
    if (!openArchiveOutput(outcome, archivePath, place.value, output)) return outcome.exitCode;
    // Until the command returns, an interrupt removes the temporary (an
    // archive written directly is never removed).
    armRemovalOnInterrupt(output.writtenPath.c_str(), output.file);
    struct Disarm {
        ~Disarm() { disarmRemovalOnInterrupt(); }
    } disarmOnReturn;

    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun pipelineRun;
    if (!startAddRun(pipelineRun, *pipeline, output.file, archivePath)) {
        reportPipelineFailures(outcome, finishRun(pipelineRun));
        discardArchive(output);
        return kExitFatal;
    }

    ProgressCounters counters;
    ProgressPrinter printer;
    const RunProgress progress = progressOf(pipelineRun);
    attachProgressPrinter(printer, console, ProgressKind::add, *progress.finishedFiles, counters, *progress.coderIn,
                          *progress.coderOut);

    DirectoryBuilder directory;
    AddRun run{.outcome = outcome,
               .pipeline = pipelineRun,
               .directory = directory,
               .counters = counters,
               .archive = output.written};
    if (place.value.existing.regular) run.previousArchive = place.value.existing;
    // Every source is shown before the walk starts, so that these lines
    // never meet the progress display.
    for (const CheckedSource& source : sources) {
        std::string line(1, '<');
        line.append(nativeToConsole(source.searchPath));
        line.append(">\n");
        writeConsole(console, line);
    }
    flushConsole(console);
    if (startProgressPrinter(printer) && !printer.terminal) keepEveryProgressRecord(pipelineRun);
    for (CheckedSource& source : sources) {
        if (run.pipelineGone) break;
        walkSource(run, source);
    }
    const std::vector<PipelineFailure> failures = finishRun(pipelineRun);
    finishProgressPrinter(printer);

    reportPipelineFailures(outcome, failures);
    if (outcome.exitCode == kExitFatal || !finishArchive(outcome, archivePath, output, directory))
        discardArchive(output);
    return outcome.exitCode;
}

}  // namespace qex
