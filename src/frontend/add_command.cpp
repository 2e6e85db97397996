// The add command (see add_command.h).
#include "frontend/add_command.h"

#include <deque>
#include <map>
#include <set>
#include <utility>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/directory_builder.h"
#include "frontend/archive_file.h"
#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/exclusion.h"
#include "frontend/failure_messages.h"
#include "frontend/listed_paths.h"
#include "frontend/progress_display.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/interrupt_cleanup.h"
#include "platform/listing.h"
#include "platform/opening_listed.h"
#include "platform/output_replacement.h"
#include "platform/paths.h"
#include "platform/spool_file.h"
#include "platform/standard_streams.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"
#include "platform/unix_owner.h"

namespace qex {

namespace {

// One folder being walked: the folder, held open (its items are opened
// through it), its matching items in listing order, and where it lies
// below its source (the path exclusion patterns see: "" or ending with
// "/"). From a list of paths (-T), `listed` holds each item's node: only
// what the list names is taken.
struct WalkLevel {
    OpenFolder folder;
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
    const AddWalkHooks& hooks;
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
    // Files with further names (hard links): the archived path of the
    // first name each was stored under, by device and inode. The paths
    // stay in place: the reader hands them out as the links' contents.
    std::map<std::pair<uint64_t, uint64_t>, const std::string*> firstNames{};
    std::deque<std::string> firstNamePaths{};
    const Exclusions* exclusions = nullptr;
};

// The longest first-name path a hard-link entry holds: extraction makes the
// link from a path of at most this length. A longer one is stored as a copy.
constexpr size_t kMaxFirstNameBytes = kMaxLinkTargetBytes;

// The item's path below the archive's base, folders joined by "/", as
// `qex l` shows it: the folders being walked, then the item.
std::string archivedPathOf(const AddRun& run, const ListedItem& item, uint32_t depth) {
    std::string path;
    for (uint32_t d = 0; d < depth; ++d) {
        const WalkLevel& level = run.levels[d];
        path += level.items[level.next - 1].nativeName;
        path.push_back('/');
    }
    return path + item.nativeName;
}

bool mayHaveFurtherNames(const ListedItem& item) {
    return kRestoresUnixModes && item.kind == ItemKind::File && item.statError == 0 && item.links > 1 &&
           item.mode != 0;
}

// The first name of the file `item` is a further name of, when it has been
// stored already in this run; null otherwise.
const std::string* firstNameOf(const AddRun& run, const ListedItem& item) {
    if (!mayHaveFurtherNames(item)) return nullptr;
    const auto found = run.firstNames.find({item.device, item.inode});
    return found == run.firstNames.end() ? nullptr : found->second;
}

// Notes a file just stored whole as the first of its names.
void noteFirstName(AddRun& run, const ListedItem& item, uint32_t depth) {
    if (!mayHaveFurtherNames(item)) return;
    std::string path = archivedPathOf(run, item, depth);
    if (path.size() > kMaxFirstNameBytes) return;
    run.firstNamePaths.push_back(std::move(path));
    run.firstNames.emplace(std::make_pair(item.device, item.inode), &run.firstNamePaths.back());
}

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
// marked and carries it (unix_mode.h), and its owner and group when their
// ids fit (unix_owner.h).
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
    storeOwner(entry.attributes, entry.lastAccessTime, item.owner, item.group);
    return entry;
}

// The item named `path` is not read and gets no entry.
void reportNotStored(AddRun& run, const std::string& path, ListedOpen outcome, int error, const char* what) {
    if (outcome == ListedOpen::changed) {
        reportAboutItem(run.outcome, kExitWarnings, path,
                        "changed after it was listed: it is no longer the same file (not stored)");
    } else {
        reportWarning(run.outcome, what, path, systemReason(error) + " (not stored)");
    }
}

// The item's entry, after the checks every stored item passes; null (and
// reported) when its name is too long for the archive. A further name of a
// file stored already (`firstName`) holds only the first name's path
// (unix_mode.h).
PendingEntry* appendEntry(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth,
                          const std::string* firstName = nullptr) {
    if (depth == 0 && !run.topNames.insert(item.name).second)
        reportWarning(run.outcome, "two sources give the same name (both kept; extraction keeps a folder, else the later)", path);
    ArchiveEntry entry = entryOf(item, depth);
    if (firstName != nullptr) {
        entry.creationTime = withUnixMode(entry.creationTime, (item.mode & kModePermissionBits) | kModeHardLink);
        setEntrySize(entry, firstName->size());
    }
    PendingEntry* pending = appendItem(run.directory, item.name, entry);
    if (pending == nullptr) reportWarning(run.outcome, "skipping item whose name is too long for the archive", path);
    return pending;
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

// A folder's entry is kept only when the folder could be opened as listed
// and listed; its contents are walked next. At the depth limit and on a
// loop the entry is kept and nothing below it is opened.
void addFolder(AddRun& run, const OpenFolder& parent, const std::string& path, const ListedItem& item,
               uint32_t depth, std::u16string below, const ListedNode* node) {
    bool enter = depth <= kMaxEnteredDepth;
    for (const FolderIdentity& above : run.ancestors)
        if (above.device == item.device && above.inode == item.inode) enter = false;
    WalkLevel level;
    if (enter) {
        int error = 0;
        const ListedOpen opened = openListedFolder(parent, item, level.folder, error);
        if (opened != ListedOpen::opened) {
            reportNotStored(run, path, opened, error, "cannot open folder");
            return;
        }
        const SystemStatus listed = listOpenFolder(level.folder, "*", level.items);
        if (!listed.ok()) {
            closeFolder(level.folder);
            reportNotStored(run, path, ListedOpen::failed, listed.error, "cannot list folder");
            return;
        }
        if (run.hooks.afterListing) run.hooks.afterListing(level.folder.path);
        level.below = std::move(below);
        if (node != nullptr && !node->whole)
            keepListed(run.outcome, level.folder.path, *node, level.items, level.listed);
    }
    if (appendEntry(run, path, item, depth) == nullptr) {
        closeFolder(level.folder);
        return;
    }
    run.counters.folders.fetch_add(1, std::memory_order_relaxed);
    if (depth > kMaxEnteredDepth) {
        reportWarning(run.outcome, "not entering folder (the archive holds " + std::to_string(kDepthLevels) + " levels)",
                      path);
    } else if (!enter) {
        reportWarning(run.outcome, "not entering folder (it leads back to a folder above it)", path);
    } else {
        run.levels.push_back(std::move(level));
        run.ancestors.push_back({item.device, item.inode});
    }
}

void queueForReading(AddRun& run, const std::string& path, uint64_t size, PendingEntry& pending) {
    pending.queued = true;
    const QueueResult queued = queueFile(run.pipeline, nativeToUtf16(path), size, &pending.file);
    if (queued == QueueResult::queued) return;
    // The reader never saw the entry: nothing of it is stored.
    pending.queued = false;
    pending.leftOut = true;
    if (pending.file.source != kNoFile) ignoreFailure(closeFile(pending.file.source));  // only read from
    pending.file.source = kNoFile;
    if (queued == QueueResult::nameTooLong) {
        reportWarning(run.outcome, "cannot read", path, "the path is too long (not stored)");
    } else {
        run.pipelineGone = true;  // the pipeline's own report says why
    }
}

// A file or link: opened (through its folder, as listed) before it gets an
// entry, so that nothing else is read and nothing unread is stored. An
// empty file is not opened: it has no bytes to read.
void addContents(AddRun& run, const OpenFolder& folder, const std::string& path, const ListedItem& item,
                 uint32_t depth) {
    if (item.statError != 0) {
        reportWarning(run.outcome, "cannot read", path, systemReason(item.statError) + " (not stored)");
        return;
    }
    // A further name of a file stored already is not opened: its bytes are
    // the first name's path.
    const std::string* firstName = firstNameOf(run, item);
    OpenedItem opened;
    if (item.size != 0 && firstName == nullptr) {
        opened = openListedItem(folder, item);
        if (opened.outcome != ListedOpen::opened) {
            reportNotStored(run, path, opened.outcome, opened.error, "cannot read");
            return;
        }
    }
    PendingEntry* pending = appendEntry(run, path, item, depth, firstName);
    if (pending == nullptr) {
        if (opened.handle != kNoFile) ignoreFailure(closeFile(opened.handle));  // only read from
        return;
    }
    run.counters.files.fetch_add(1, std::memory_order_relaxed);
    run.counters.listedBytes.fetch_add(firstName != nullptr ? firstName->size() : item.size,
                                       std::memory_order_relaxed);
    if (firstName != nullptr) {
        pending->file.givenBytes = firstName;
        return queueForReading(run, path, firstName->size(), *pending);
    }
    noteFirstName(run, item, depth);
    if (item.size == 0) return;
    // An empty file has its entry and no job: the reader has nothing to
    // deliver for it. A link's job delivers its target.
    pending->file.symbolicLink = item.kind == ItemKind::Link;
    pending->file.source = opened.handle;
    queueForReading(run, path, item.size, *pending);
}

// A FIFO: stored as one, without bytes, and never opened (opening one
// would wait for a writer).
void addFifo(AddRun& run, const std::string& path, const ListedItem& item, uint32_t depth) {
    if (appendEntry(run, path, item, depth) != nullptr) run.counters.files.fetch_add(1, std::memory_order_relaxed);
}

// `below`: where the item lies below its source ("" for the source itself);
// `listed`: its node when it comes from a list of paths.
void addItem(AddRun& run, const OpenFolder& folder, const ListedItem& item, uint32_t depth,
             const std::u16string& below, const ListedNode* listed) {
    const std::string path = folder.path + item.nativeName;
    if (run.exclusions != nullptr && isExcluded(*run.exclusions, item.name, below, item.kind == ItemKind::Folder))
        return;
    if (listed != nullptr && !listed->whole && item.kind != ItemKind::Folder) {
        reportWarning(run.outcome, "cannot add listed paths below an item that is not a folder", path);
        return;
    }
    // A FIFO is stored as one. A socket belongs to a running program and
    // means nothing in an archive: a note, not a failure. A device cannot
    // be stored.
    if (item.kind == ItemKind::Special) {
        const uint16_t type = item.mode & kModeTypeBits;
        if (type == kModeFifo) return addFifo(run, path, item, depth);
        if (type == kModeSocket) {
            reportNote(run.outcome, "skipping socket", path);
        } else {
            reportWarning(run.outcome, "skipping device", path);
        }
        return;
    }
    if (isArchiveItself(run, item)) return;
    if (hasContents(item) && item.size > kMaxFileBytes) {
        reportWarning(run.outcome, "skipping file of 2^" + std::to_string(kEntrySizeBits) + " bytes or more", path);
        return;
    }
    if (item.kind == ItemKind::Folder) {
        addFolder(run, folder, path, item, depth, below.empty() ? below : below + u'/', listed);
    } else {
        addContents(run, folder, path, item, depth);
    }
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
    std::string searchPath;         // full path; "folder/*" for "folder/"
    OpenFolder folder;              // the folder it names or matches in, held open
    std::vector<ListedItem> items;  // what it names or matches
    bool isItself = false;          // a folder or file named as such: its item is the source
    const ListedNode* listed = nullptr;  // a tree of listed paths: its root
};

void walkSource(AddRun& run, CheckedSource& source) {
    WalkLevel first;
    std::swap(first.folder, source.folder);
    first.items = std::move(source.items);
    run.levels.reserve(kMaxEnteredDepth + 2);
    run.ancestors.clear();
    noteSourceAncestors(run, first.folder.path);
    const size_t sourceAncestors = run.ancestors.size();
    if (run.hooks.afterListing) run.hooks.afterListing(first.folder.path);
    if (source.listed != nullptr) keepListed(run.outcome, first.folder.path, *source.listed, first.items, first.listed);
    run.levels.push_back(std::move(first));
    while (!run.levels.empty() && !run.pipelineGone) {
        WalkLevel& level = run.levels.back();
        if (level.next == level.items.size()) {
            closeFolder(level.folder);
            run.levels.pop_back();
            if (run.ancestors.size() > sourceAncestors) run.ancestors.pop_back();
            continue;
        }
        // The capacity reserved above keeps `level` and `item` in place
        // while a folder entered below pushes its own level.
        const size_t k = level.next++;
        const ListedItem& item = level.items[k];
        const uint32_t depth = static_cast<uint32_t>(run.levels.size() - 1);
        const std::u16string below = depth == 0 && source.isItself ? std::u16string() : level.below + item.name;
        addItem(run, level.folder, item, depth, below, level.listed.empty() ? nullptr : level.listed[k]);
    }
    for (WalkLevel& left : run.levels) closeFolder(left.folder);
    run.levels.clear();
}

// Resolves and lists a source through its folder, which stays open for
// the walk. A source that cannot be resolved or listed, one that names
// nothing, a mask that matches nothing and the archive named as its own
// source are fatal, before anything is written.
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
    const size_t nameStart = lastComponentStart(checked.searchPath);
    const std::string_view lastName = std::string_view(checked.searchPath).substr(nameStart);
    SystemResult<OpenFolder> folder = openFolderAt(checked.searchPath.substr(0, nameStart));
    if (!folder.ok()) {
        if (contentsOnly) {
            // The folder must be there; it may be empty.
            reportFatal(outcome, "cannot find source folder", source,
                        isNotAFolderError(folder.error) ? "not a folder" : systemReason(folder.error));
        } else if (isNotFoundError(folder.error) && !hasWildcards(lastName)) {
            reportFatal(outcome, "cannot find source", source, systemReason(folder.error));
        } else {
            reportFatal(outcome, "cannot list source", source, systemReason(folder.error));
        }
        return false;
    }
    checked.folder = std::move(folder.value);
    const SystemStatus listed = listOpenFolder(checked.folder, lastName, checked.items);
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

// The contents of a list file (`-` for standard input) into `bytes`; false,
// reported as "cannot read `what`", when it cannot be read.
bool readListReported(CommandOutcome& outcome, const std::u16string& file16, std::string_view what,
                      std::string& bytes) {
    const std::string file = utf16ToNative(file16);
    int error = 0;
    if (readList(file, bytes, error)) return true;
    reportFatal(outcome, std::string("cannot read ") + std::string(what), file, systemReason(error));
    return false;
}

// The patterns of -x, --exclude-from and --exclude-vcs. False (reported)
// when a pattern file cannot be read.
bool readExclusions(CommandOutcome& outcome, const CommandOptions& options, Exclusions& exclusions) {
    exclusions.versionControl = options.excludeVcs;
    for (const std::u16string& pattern : options.excludes) addExclusionPattern(exclusions, pattern);
    for (const std::u16string& file16 : options.excludeFiles) {
        std::string bytes;
        if (!readListReported(outcome, file16, "the exclusion patterns", bytes)) return false;
        addExclusionLines(exclusions, nativeToUtf16(bytes));
    }
    return true;
}

// The paths of -T, read and merged into one source per tree, each tree's
// folder opened and listed. False (reported) when a list cannot be read,
// or when the lists name nothing and no other source was given.
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
        std::string bytes;
        if (!readListReported(outcome, list16, "the list of paths", bytes)) return false;
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
        source.listed = tree.root.whole ? nullptr : &tree.root;  // "." listed: everything there
        SystemResult<OpenFolder> folder = openFolderAt(tree.base);
        if (!folder.ok()) {
            reportFatal(outcome, "cannot list source", tree.base, systemReason(folder.error));
            return false;
        }
        source.folder = std::move(folder.value);
        const SystemStatus listed = listOpenFolder(source.folder, "*", source.items);
        if (!listed.ok()) {
            reportFatal(outcome, "cannot list source", tree.base, systemReason(listed.error));
            return false;
        }
    }
    return true;
}

// True when the file at the archive's path reads as an archive, which add
// may replace; otherwise false, reported.
bool mayReplace(CommandOutcome& outcome, const std::string& archivePath) {
    int error = 0;
    if (readsAsArchive(archivePath, error)) return true;
    if (error != 0) {
        reportAboutItem(outcome, kExitFatal, archivePath,
                        "exists and cannot be read as a qex archive (" + systemReason(error) + "); -f replaces it");
    } else {
        reportAboutItem(outcome, kExitFatal, archivePath, "exists and is not a qex archive; -f replaces it");
    }
    return false;
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
        const bool toStandardOutput = archivePath == kStandardStreamArgument;
        const SystemResult<FileHandle> opened =
            toStandardOutput ? duplicateStandardOutput() : createForWrite(archivePath.c_str());
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
           const CommandOptions& options, ConsoleOutput& console) {
    return runAddWithHooks(archivePath16, sources16, options, console, AddWalkHooks{});
}

int runAddWithHooks(const std::u16string& archivePath16, const std::vector<std::u16string>& sources16,
                    const CommandOptions& options, ConsoleOutput& console, const AddWalkHooks& hooks) {
    CommandOutcome outcome;
    const std::string archivePath = utf16ToNative(archivePath16);
    // "-": standard output, written as it stands, whatever it is.
    const SystemResult<OutputPlace> place =
        archivePath == kStandardStreamArgument
            ? SystemResult<OutputPlace>{OutputPlace{true, archivePath, identityOfStandardOutput()}, 0}
            : examineOutputPlace(archivePath);
    if (!place.ok()) {
        reportFatal(outcome, "cannot create archive", archivePath, systemReason(place.error));
        return outcome.exitCode;
    }
    if (place.value.danglingLink) {
        reportFatal(outcome, "cannot create archive", archivePath,
                    "it is a symbolic link that leads nowhere (only a file a link leads to is replaced)");
        return outcome.exitCode;
    }
    // Every source is checked before anything is written. Their folders
    // stay open until the command returns (the walk closes each it ends).
    std::vector<CheckedSource> sources(sources16.size());
    struct CloseSourceFolders {
        std::vector<CheckedSource>& sources;
        ~CloseSourceFolders() {
            for (CheckedSource& source : sources) closeFolder(source.folder);
        }
    } closeOnReturn{sources};
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
    const InterruptHandlersForRun interruptHandlers;
    if (!output.direct) armRemovalOnInterrupt(output.writtenPath.c_str(), output.file);
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

    DirectoryBuilder directory;
    AddRun run{.outcome = outcome,
               .pipeline = pipelineRun,
               .directory = directory,
               .counters = counters,
               .hooks = hooks,
               .archive = output.written,
               .exclusions = &exclusions};
    if (place.value.existing.regular) run.previousArchive = place.value.existing;
    // Every source is shown before the walk starts, so that these lines
    // never meet the progress display.
    for (const CheckedSource& source : sources) {
        if (console.quiet) break;
        std::string line(1, '<');
        line.append(nativeToConsole(withoutLongPathPrefix(source.searchPath)));
        line.append(">\n");
        writeConsole(console, line);
    }
    flushConsole(console);
    startRunProgress(printer, console, ProgressKind::add, pipelineRun, counters);
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
