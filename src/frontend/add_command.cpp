// The add command (see add_command.h).
#include "frontend/add_command.h"

#include <set>
#include <utility>
#include <cstdio>
#include <string>
#include <vector>

#include "frontend/archive_file.h"
#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/directory_builder.h"
#include "frontend/exclusion.h"
#include "frontend/listed_paths.h"
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

// One folder being listed: its path (ending with a separator), its
// matching items in listing order, and where it lies below its source (the
// path exclusion patterns see: "" or ending with "/"). From a list of paths
// (-T), `listed` holds each item's node: only what the list names is taken.
struct WalkLevel {
    std::string folder;
    std::vector<ListedItem> items;
    size_t next = 0;
    std::u16string below;
    std::vector<const ListedNode*> listed;
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
    FileIdentity archive;          // the file being written
    FileIdentity previousArchive;  // the file it replaces, if any
    // The level stack: levels[d] lists the items at depth d. Its capacity
    // is reserved once, so references into it stay valid while it grows.
    std::vector<WalkLevel> levels;
    // Folders the current item lies in (the source's own ancestors
    // first): entering one of them again would loop.
    std::vector<FolderIdentity> ancestors;
    bool pipelineGone = false;  // no further job can be queued
    // Names at depth 0 so far: two sources may give the same one.
    std::set<std::u16string> topNames;
    const Exclusions* exclusions = nullptr;
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

// Keeps of `items` those the node's children name, each with its node, and
// reports the listed names the folder does not hold.
void keepListed(CommandOutcome& outcome, const std::string& folder, const ListedNode& node,
                std::vector<ListedItem>& items, std::vector<const ListedNode*>& nodes) {
    std::vector<ListedItem> kept;
    std::set<std::string> found;
    for (ListedItem& item : items) {
        const auto child = node.children.find(item.nativeName);
        if (child == node.children.end()) continue;
        found.insert(item.nativeName);
        nodes.push_back(&child->second);
        kept.push_back(std::move(item));
    }
    items = std::move(kept);
    for (const auto& [name, child] : node.children)
        if (found.count(name) == 0) reportWarning(outcome, "cannot find listed path", folder + name);
}

void enterFolder(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth,
                 std::u16string below, const ListedNode* node) {
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
    level.below = std::move(below);
    if (node != nullptr && !node->whole) keepListed(run.outcome, level.folder, *node, level.items, level.listed);
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

// `below`: where the item lies below its source ("" for the source itself);
// `listed`: its node when it comes from a list of paths.
void addItem(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth, const std::u16string& below,
             const ListedNode* listed) {
    if (run.exclusions != nullptr && isExcluded(*run.exclusions, item.name, below, item.kind == ItemKind::Folder))
        return;
    if (listed != nullptr && !listed->whole && item.kind != ItemKind::Folder) {
        reportWarning(run.outcome, "cannot add listed paths below an item that is not a folder", path);
        return;
    }
    // A FIFO is stored as one, without bytes. A socket belongs to a running
    // program and means nothing in an archive: a note, not a failure. A
    // device cannot be stored.
    if (item.kind == ItemKind::Special && (item.mode & kModeTypeBits) != kModeFifo) {
        if ((item.mode & kModeTypeBits) == kModeSocket) {
            reportNote(run.outcome, "skipping socket", path);
        } else {
            reportWarning(run.outcome, "skipping device", path);
        }
        return;
    }
    if (isArchiveItself(run, item)) return;
    if (hasContents(item) && item.size > kMaxFileBytes) {
        reportWarning(run.outcome, "skipping file of 2^40 bytes or more", path);
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
        enterFolder(run, path, item, depth, below.empty() ? below : below + u'/', listed);
        return;
    }
    run.counters.files.fetch_add(1, std::memory_order_relaxed);
    run.counters.listedBytes.fetch_add(item.size, std::memory_order_relaxed);
    if (item.statError != 0) {
        reportWarning(run.outcome, "cannot read", path, systemReason(item.statError));
        return;
    }
    // An empty file has its entry and no job: a job of size 0 would read as
    // the end of the jobs. A link's job delivers its target.
    pending->file.symbolicLink = item.kind == ItemKind::Link;
    if (hasContents(item) && item.size != 0) queueForReading(run, path, item, *pending);
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
// anything is written; or one tree of listed paths.
struct CheckedSource {
    std::string searchPath;  // full path; "folder/*" for "folder/"
    std::vector<ListedItem> items;  // what it names or matches
    bool isItself = false;  // a folder or file named as such: its item is the source
    const ListedNode* listed = nullptr;  // a tree of listed paths: its root
};

void walkSource(AddRun& run, CheckedSource& source) {
    WalkLevel first;
    first.folder = source.searchPath.substr(0, lastComponentStart(source.searchPath));
    first.items = std::move(source.items);
    run.levels.reserve(kMaxEnteredDepth + 2);
    run.ancestors.clear();
    noteSourceAncestors(run, first.folder);
    const size_t sourceAncestors = run.ancestors.size();
    if (source.listed != nullptr) keepListed(run.outcome, first.folder, *source.listed, first.items, first.listed);
    run.levels.push_back(std::move(first));
    while (!run.levels.empty() && !run.pipelineGone) {
        WalkLevel& level = run.levels.back();
        if (level.next == level.items.size()) {
            run.levels.pop_back();
            if (run.ancestors.size() > sourceAncestors) run.ancestors.pop_back();
            continue;
        }
        const size_t k = level.next++;
        const ListedItem& item = level.items[k];
        const uint32_t depth = static_cast<uint32_t>(run.levels.size() - 1);
        const std::u16string below = depth == 0 && source.isItself ? std::u16string() : level.below + item.name;
        addItem(run, level.folder + item.nativeName, item, depth, below, level.listed.empty() ? nullptr : level.listed[k]);
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
    checked.isItself = !contentsOnly && !hasWildcards(lastName);
    const FileIdentity& archive = archivePlace.existing;
    if (!contentsOnly && !hasWildcards(lastName) && checked.items.size() == 1 && isFile(archive, checked.items[0])) {
        reportFatal(outcome, "the source is the archive itself", source);
        return false;
    }
    return true;
}

// The patterns of -x, --exclude-from and --exclude-vcs. False (reported)
// when a pattern file cannot be read.
bool readExclusions(CommandOutcome& outcome, const CommandOptions& options, Exclusions& exclusions) {
    exclusions.versionControl = options.excludeVcs;
    for (const std::u16string& pattern : options.excludes) addExclusionPattern(exclusions, pattern);
    for (const std::u16string& file16 : options.excludeFiles) {
        const std::string file = utf16ToNative(file16);
        std::string bytes;
        int error = 0;
        if (!readList(file, bytes, error)) {
            reportFatal(outcome, "cannot read the exclusion patterns", file, systemReason(error));
            return false;
        }
        addExclusionLines(exclusions, nativeToUtf16(bytes));
    }
    return true;
}

// The paths of -T, read and merged into one source per tree. False
// (reported) when a list cannot be read, or when the lists name nothing and
// no other source was given.
bool readListedPaths(CommandOutcome& outcome, const CommandOptions& options, ListedPaths& paths,
                     std::vector<CheckedSource>& sources) {
    if (options.fileLists.empty()) return true;
    const SystemResult<std::string> current = fullPath(".");
    if (!current.ok()) {
        reportFatal(outcome, "cannot resolve the current folder", ".", systemReason(current.error));
        return false;
    }
    const std::string currentFolder = joinPath(current.value, "");
    for (const std::u16string& list16 : options.fileLists) {
        const std::string list = utf16ToNative(list16);
        std::string bytes;
        int error = 0;
        if (!readList(list, bytes, error)) {
            reportFatal(outcome, "cannot read the list of paths", list, systemReason(error));
            return false;
        }
        for (const std::string& path : splitList(bytes, options.nullSeparated))
            addListedPath(paths, path, currentFolder);
    }
    for (const std::string& path : paths.refused)
        reportWarning(outcome, "skipping listed path with a \"..\" component", path);
    if (paths.strippedRoot) reportNote(outcome, "removing the leading \"/\" from listed paths");
    if (paths.count == 0 && sources.empty()) {
        reportFatal(outcome, "the lists of paths name nothing to add", {});
        return false;
    }
    for (const ListedTree& tree : paths.trees) {
        CheckedSource& source = sources.emplace_back();
        source.searchPath = tree.base + "*";
        source.listed = &tree.root;
        if (tree.root.whole) source.listed = nullptr;  // "." listed: everything there
        const SystemStatus listed = listPattern(source.searchPath, source.items);
        if (!listed.ok()) {
            reportFatal(outcome, "cannot list source", tree.base, systemReason(listed.error));
            return false;
        }
    }
    return true;
}

// Failures the pipeline collected: unreadable sources are warnings, the rest
// (the coder could not start, the stream could not be written) is fatal.
void reportPipelineFailures(CommandOutcome& outcome, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) {
        switch (failure.kind) {
            case FailureKind::sourceUnreadable:
                reportWarning(outcome, "cannot read", failure.path, failure.reason);
                break;
            case FailureKind::sourceChanged:
                reportWarning(outcome, "file changed as it was read", failure.path, failure.reason);
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
// the final name stays as it was.
void discardArchive(ArchiveOutput& output) {
    if (output.file != kNoFile) closeFile(output.file);
    output.file = kNoFile;
    if (!output.direct) removeIfSameFile(output.writtenPath.c_str(), output.written);
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

// True when the file at the archive's path reads as an archive, which add
// may replace; otherwise false, reported.
bool mayReplace(CommandOutcome& outcome, const std::string& archivePath) {
    int error = 0;
    if (readsAsArchive(archivePath, error)) return true;
    if (error != 0) {
        reportFatalAbout(outcome, archivePath,
                         "exists and cannot be read as a qex archive (" + systemReason(error) + "); -f replaces it");
    } else {
        reportFatalAbout(outcome, archivePath, "exists and is not a qex archive; -f replaces it");
    }
    return false;
}

}  // namespace

int runAdd(const std::u16string& archivePath16, const std::vector<std::u16string>& sources16,
           const CommandOptions& options, ConsoleOutput& console) {
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
    // A file that is not an archive is someone's data: replaced only on -f.
    if (place.value.existing.regular && !options.force && !mayReplace(outcome, archivePath))
        return outcome.exitCode;
    Exclusions exclusions;
    if (!readExclusions(outcome, options, exclusions)) return outcome.exitCode;
    ListedPaths listedPaths;
    if (!readListedPaths(outcome, options, listedPaths, sources)) return outcome.exitCode;

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
    AddRun run{outcome, pipelineRun, directory, counters, output.written, {}, {}, {}, false, {}, &exclusions};
    if (place.value.existing.regular) run.previousArchive = place.value.existing;
    // Every source is shown before the walk starts, so that these lines
    // never meet the progress display.
    for (const CheckedSource& source : sources) {
        if (console.quiet) break;
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
