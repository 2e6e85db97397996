// The extract command (see extract_command.h).
#include "frontend/extract_command.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "archive/directory_reader.h"
#include "frontend/archive_file.h"
#include "archive/archived_paths.h"
#include "frontend/command_outcome.h"
#include "frontend/commands.h"
#include "frontend/contents_output.h"
#include "frontend/failure_messages.h"
#include "frontend/item_selection.h"
#include "frontend/progress_display.h"
#include "frontend/same_names.h"
#include "pipeline/pipeline_run.h"
#include "platform/file_attributes.h"
#include "platform/file_identity.h"
#include "platform/file_io.h"
#include "platform/file_times.h"
#include "platform/interrupt_cleanup.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"
#include "platform/unix_owner.h"
#include "platform/within_folder.h"

namespace qex {

ItemPlaces placeItems(const std::vector<ArchiveEntry>& entries, const std::vector<std::u16string>& names) {
    ItemPlaces places{};
    places.folderEntry.push_back(0);   // the target: no entry, never looked at
    places.folderParent.push_back(0);
    places.folderOf.reserve(entries.size());
    std::vector<uint32_t> folderAtDepth(1, 0);  // per depth: where its items lie
    for (size_t k = 0; k < entries.size() && k < names.size(); ++k) {
        const size_t depth = entries[k].depth;
        places.folderOf.push_back(folderAtDepth[depth]);
        if (!isFolder(entries[k])) continue;
        if (folderAtDepth.size() < depth + 2) folderAtDepth.resize(depth + 2);
        folderAtDepth[depth + 1] = static_cast<uint32_t>(places.folderEntry.size());
        places.folderEntry.push_back(static_cast<uint32_t>(k));
        places.folderParent.push_back(folderAtDepth[depth]);
    }
    return places;
}

std::string placeOf(const ItemPlaces& places, const std::vector<std::u16string>& names, size_t k) {
    std::vector<uint32_t> chain(1, static_cast<uint32_t>(k));  // the entry, then its folders upwards
    for (uint32_t folder = places.folderOf[k]; folder != 0; folder = places.folderParent[folder])
        chain.push_back(places.folderEntry[folder]);
    std::string path;
    for (size_t i = chain.size(); i-- > 0;) {
        path += utf16ToNative(names[chain[i]]);
        if (i != 0) path.push_back(kPathSeparator);
    }
    return path;
}

namespace {

// At most this many lines about single items (folders or files that could
// not be created, written or stamped); the others are counted in one line at
// the end, so that a hostile archive cannot flood the console.
constexpr size_t kItemMessageLimit = 50;

struct ExtractRun {
    CommandOutcome& outcome;
    PipelineRun& pipeline;
    ProgressCounters& counters;
    const Directory& directory;
    std::string target;  // full path of the target folder
    // The target, and the way to the folder last worked in by this thread
    // (the writer has its own).
    FolderCursor folders{kNoFile};
    // One per file entry, reserved once: the writer fills them by address.
    std::vector<FileEntry> files{};
    std::vector<uint32_t> fileEntry{};  // per file: its entry
    // Per entry: it is a folder this run could not create (or find), so
    // nothing below it exists either, or one that was not asked for.
    std::vector<bool> folderMissing{};
    std::vector<bool> folderMade{};  // per entry: a folder this run made
    ItemPlaces places{};
    std::vector<SameNameVerdict> verdicts{};  // per entry: whether another of its path is kept instead
    size_t itemMessages = 0;  // item lines printed or counted
    // The first file whose bytes were damaged (its entry), where extraction
    // stopped; the directory's size when none was.
    size_t damagedAt = SIZE_MAX;
    // The items asked for; null when everything is extracted.
    const ItemSelection* selection = nullptr;
    std::vector<size_t> fifos{};  // entries made as FIFOs once the stream is done
};

bool isTaken(const ExtractRun& run, size_t k) { return run.selection == nullptr || run.selection->taken[k]; }

// One past the last file entry whose bytes are needed.
size_t fileEntriesEnd(const ExtractRun& run) {
    return run.selection == nullptr ? run.directory.entries.size() : run.selection->fileEntriesEnd;
}

// "10,000": counts in messages are read at a glance.
std::string countText(size_t count) {
    std::string digits = std::to_string(count);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

// A warning about one item, within the limit.
void reportItem(ExtractRun& run, std::string_view what, std::string_view path, std::string_view reason) {
    if (run.itemMessages++ < kItemMessageLimit) return reportWarning(run.outcome, what, path, reason);
    if (run.outcome.exitCode < kExitWarnings) run.outcome.exitCode = kExitWarnings;
}

// The count of the item lines left out, by this limit or by the pipeline's.
void reportUnlistedItems(ExtractRun& run) {
    const size_t unlisted = run.itemMessages > kItemMessageLimit ? run.itemMessages - kItemMessageLimit : 0;
    if (unlisted == 0) return;
    reportWarning(run.outcome, "and " + countText(unlisted) + " more items could not be restored", {});
}

bool isLink(const ArchiveEntry& entry) { return restoresAsLink(entry.attributes, entry.creationTime); }

FileEntry fileEntryOf(const ArchiveEntry& entry) {
    FileEntry file;
    file.size = entrySize(entry);
    file.crc = entry.crc;
    file.crcPlusOne = entry.crcPlusOne;
    file.attributes = entry.attributes;
    file.creationTime = entry.creationTime;
    file.lastWriteTime = entry.lastWriteTime;
    file.lastAccessTime = entry.lastAccessTime;
    file.symbolicLink = restoresAsLink(entry.attributes, entry.creationTime);
    file.hardLink = restoresAsHardLink(entry.attributes, entry.creationTime);
    return file;
}

// The entries nested below folder entry `k`.
size_t itemsBelow(const std::vector<ArchiveEntry>& entries, size_t k) {
    size_t end = k + 1;
    while (end < entries.size() && entries[end].depth > entries[k].depth) ++end;
    return end - k - 1;
}

// Appended to the line about a folder that is not created: what is below it.
std::string alsoNotRestored(const std::vector<ArchiveEntry>& entries, size_t k) {
    const size_t below = itemsBelow(entries, k);
    if (below == 0) return {};
    return "; its " + countText(below) + (below == 1 ? " item is" : " items are") + " not restored either";
}

// Queues file entry `k`: written at `path`, or, with an empty path, its
// bytes only passed through (and checked) so that the next file gets its
// own. False when the run has stopped.
bool queueFileEntry(ExtractRun& run, size_t k, const std::string& path) {
    const ArchiveEntry& entry = run.directory.entries[k];
    run.files.push_back(fileEntryOf(entry));
    run.fileEntry.push_back(static_cast<uint32_t>(k));
    const QueueResult queued =
        queueFile(run.pipeline, path.empty() ? std::u16string() : nativeToUtf16(path), entrySize(entry), &run.files.back());
    // Its bytes pass unwritten; the files after it are still extracted.
    if (queued == QueueResult::nameTooLong)
        reportItem(run, "cannot create file", joinPath(run.target, path), "the path is too long");
    return queued != QueueResult::runStopped;  // if stopped, the pipeline's report says why
}

// The run stopped before entry `from`: no folder from there on was made.
void markUnreached(ExtractRun& run, size_t from) {
    for (size_t k = from; k < run.folderMissing.size(); ++k) run.folderMissing[k] = true;
}

// A name this system cannot hold (Windows: a backslash, a trailing dot, a
// device name...) is refused for its item, and for a folder for all below
// it; the rest is extracted. The name is shown with a backslash inside it
// escaped, so that it does not read as a folder separator.
bool refuseUnfitName(ExtractRun& run, size_t k, std::vector<bool>& missingAt) {
    const std::u16string& name = run.directory.names[k];
    std::string reason = unfitNameReason(name);
    if (reason.empty()) return false;
    const ArchiveEntry& entry = run.directory.entries[k];
    const size_t folderEntry = run.places.folderEntry[run.places.folderOf[k]];
    const std::string parent =
        run.places.folderOf[k] == 0 ? run.target
                                    : joinPath(run.target, placeOf(run.places, run.directory.names, folderEntry));
    std::u16string shown;
    for (const char16_t unit : name) shown += unit == u'\\' ? std::u16string(u"<5C>") : std::u16string(1, unit);
    if (isFolder(entry)) {
        reason += alsoNotRestored(run.directory.entries, k);
        run.folderMissing[k] = true;
        missingAt[size_t{entry.depth} + 1] = true;
    }
    reportItem(run, isFolder(entry) ? "cannot create folder" : "cannot create file",
               joinPath(parent, utf16ToNative(shown)), reason);
    return true;
}

// First pass: folders are made at once, files are queued for the writer.
// Folders come before their contents in the directory, so every folder
// exists before a job for anything inside it is queued. A folder that
// cannot be made is reported once, with the count of the items below it;
// its files' bytes pass through unwritten and nothing below it is tried.
// Files not asked for pass through unwritten up to the last one asked for;
// no job follows it.
void createItems(ExtractRun& run) {
    const std::vector<ArchiveEntry>& entries = run.directory.entries;
    run.files.reserve(entries.size());
    run.folderMissing.assign(entries.size(), false);
    run.folderMade.assign(entries.size(), false);
    run.places = placeItems(entries, run.directory.names);
    run.verdicts = sameNameVerdicts(entries, run.directory.names, run.places,
                                    run.selection != nullptr ? run.selection->taken : std::vector<bool>());
    std::vector<bool> missingAt(1, false);  // per depth: its folder is missing
    for (size_t k = 0; k < entries.size(); ++k) {
        const ArchiveEntry& entry = entries[k];
        const bool folder = isFolder(entry);
        if (missingAt.size() < size_t{entry.depth} + 2) missingAt.resize(size_t{entry.depth} + 2);
        if (!isTaken(run, k)) {
            if (folder) {
                run.folderMissing[k] = true;
                missingAt[size_t{entry.depth} + 1] = true;
            } else if (k < fileEntriesEnd(run)) {
                run.files.push_back(fileEntryOf(entry));
                run.fileEntry.push_back(static_cast<uint32_t>(k));
                if (queuePassThrough(run.pipeline, {}, entrySize(entry), run.files.back()) == QueueResult::runStopped)
                    return markUnreached(run, k + 1);
            }
            continue;
        }
        if (missingAt[entry.depth]) {
            // Reported with its folder. Only bytes need passing through.
            if (folder) {
                run.folderMissing[k] = true;
                missingAt[size_t{entry.depth} + 1] = true;
            } else if (entrySize(entry) != 0 && !queueFileEntry(run, k, {})) {
                return markUnreached(run, k + 1);
            }
            continue;
        }
        if (refuseUnfitName(run, k, missingAt)) {
            if (!folder && entrySize(entry) != 0 && !queueFileEntry(run, k, {})) return markUnreached(run, k + 1);
            continue;
        }
        const std::string path = placeOf(run.places, run.directory.names, k);
        if (folder) {
            run.counters.folders.fetch_add(1, std::memory_order_relaxed);
            const SystemResult<bool> made = makeFolderWithin(run.folders, path.c_str());
            if (!made.ok()) {
                reportItem(run, "cannot create folder", joinPath(run.target, path),
                           withinFolderReason(made.error) + alsoNotRestored(entries, k));
            }
            run.folderMissing[k] = !made.ok();
            run.folderMade[k] = made.ok() && made.value;
            missingAt[size_t{entry.depth} + 1] = !made.ok();
            continue;
        }
        if (run.verdicts[k] != SameNameVerdict::kept) {
            // Another item of its path is kept: its bytes only pass.
            if (run.verdicts[k] == SameNameVerdict::folderWins)
                reportItem(run, isLink(entry) ? "cannot create symbolic link" : "cannot create file",
                           joinPath(run.target, path), "the archive holds a folder of that name, which is kept");
            run.files.push_back(fileEntryOf(entry));
            run.fileEntry.push_back(static_cast<uint32_t>(k));
            if (queuePassThrough(run.pipeline, {}, entrySize(entry), run.files.back()) == QueueResult::runStopped)
                return markUnreached(run, k + 1);
            continue;
        }
        run.counters.files.fetch_add(1, std::memory_order_relaxed);
        // A FIFO takes no bytes: it is made after the run, like links.
        if (restoresAsFifo(entry.attributes, entry.creationTime, entrySize(entry))) {
            run.fifos.push_back(k);
            continue;
        }
        if (!queueFileEntry(run, k, path)) return markUnreached(run, k + 1);
    }
}

// Where extraction stopped at damage: the first file whose bytes did not
// all arrive or failed their check values (the writer stops the run there).
void findDamage(ExtractRun& run) {
    for (size_t file = 0; file < run.files.size(); ++file) {
        if (!run.files[file].damaged) continue;
        run.damagedAt = run.fileEntry[file];
        return;
    }
}

// Appended to the line about the damaged file: what else is missing.
std::string notRestoredText(const ExtractRun& run) {
    size_t after = 0;  // the items asked for (all, unless some were named)
    for (size_t k = run.damagedAt + 1; k < run.directory.entries.size(); ++k) after += isTaken(run, k) ? 1 : 0;
    if (after == 0) return "; it is not restored";
    return "; extraction stopped there: it and the " + countText(after) + (after == 1 ? " item" : " items") +
           " after it are not restored";
}

// Why a file was not put at its name: a file this run extracted stands
// there (the same name twice, or names the file system takes for one).
std::string nameTakenReason(const ExtractRun& run, const FileEntry* earlier) {
    const size_t file = earlier == nullptr ? SIZE_MAX : static_cast<size_t>(earlier - run.files.data());
    if (file >= run.fileEntry.size()) return "a file this run extracted has that name here";
    const std::string earlierPath = joinPath(run.target, placeOf(run.places, run.directory.names, run.fileEntry[file]));
    std::string reason(1, '"');
    reason += nativeToConsole(withoutLongPathPrefix(earlierPath));
    reason += "\", extracted earlier by this run, has that name here (it is kept)";
    return reason;
}

void reportPipelineFailures(ExtractRun& run, const std::vector<PipelineFailure>& failures) {
    for (const PipelineFailure& failure : failures) {
        const FailureMessage message = failureMessage(failure.kind);
        const std::string path = message.namesItem ? joinPath(run.target, failure.path) : failure.path;
        switch (message.weight) {
            case FailureWeight::item:
                reportItem(run, message.what, path,
                           failure.kind == FailureKind::fileNameTaken ? nameTakenReason(run, failure.earlier)
                                                                     : failure.reason);
                break;
            case FailureWeight::counted:
                // Counted by the pipeline, not kept: they join the count.
                run.itemMessages = std::max(run.itemMessages, kItemMessageLimit) + failure.count;
                break;
            case FailureWeight::warning:
                reportWarning(run.outcome, message.what, path, failure.reason);
                break;
            case FailureWeight::fatal: {
                // The file the stream ended inside is where extraction stopped.
                const bool stoppedHere = failure.kind == FailureKind::fileIncomplete && run.damagedAt != SIZE_MAX;
                reportFatal(run.outcome, message.what, path, failure.reason + (stoppedHere ? notRestoredText(run) : ""));
                break;
            }
        }
    }
}

// The file where extraction stopped, when all its bytes arrived but did not
// match its check values (one that ended early is the writer's report).
void reportCheckValueMismatch(ExtractRun& run, const std::vector<PipelineFailure>& failures) {
    if (run.damagedAt == SIZE_MAX) return;
    for (const PipelineFailure& failure : failures)
        if (failure.kind == FailureKind::fileIncomplete) return;
    const FileEntry* damaged = nullptr;
    for (size_t file = 0; file < run.files.size() && damaged == nullptr; ++file)
        if (run.fileEntry[file] == run.damagedAt) damaged = &run.files[file];
    if (damaged == nullptr) return;
    char values[96];
    std::snprintf(values, sizeof values, "stored %08X %08X, computed %08X %08X", damaged->crc,
                  damaged->crcPlusOne, damaged->writtenCrc, damaged->writtenCrcPlusOne);
    reportFatal(run.outcome, "check value mismatch in",
                joinPath(run.target, placeOf(run.places, run.directory.names, run.damagedAt)),
                values + notRestoredText(run));
}

// After damage nothing more is to exist: folders this run made beyond the
// damaged file go again (deepest first, and only while empty).
void removeFoldersAfterDamage(ExtractRun& run) {
    if (run.damagedAt == SIZE_MAX) return;
    for (size_t k = run.directory.entries.size(); k-- > run.damagedAt + 1;) {
        if (!run.folderMade[k]) continue;
        const std::string path = placeOf(run.places, run.directory.names, k);
        if (removeEmptyFolderWithin(run.folders, path.c_str()).ok()) run.folderMissing[k] = true;
    }
}

// The file entry whose extraction record is `file`.
size_t entryOfFile(const ExtractRun& run, const FileEntry* file) {
    return run.fileEntry[static_cast<size_t>(file - run.files.data())];
}

// The extraction record of entry `k`; null when it has none (its bytes
// were never needed).
const FileEntry* fileOfEntry(const ExtractRun& run, size_t k) {
    const auto found = std::lower_bound(run.fileEntry.begin(), run.fileEntry.end(), static_cast<uint32_t>(k));
    if (found == run.fileEntry.end() || *found != k) return nullptr;
    return &run.files[static_cast<size_t>(found - run.fileEntry.begin())];
}

// Why hard-link entry `k` cannot become a further name of entry `first`
// (the last of the path it holds); empty when it can. The first name must
// be a file stored before it that this run extracted and kept.
std::string hardLinkRefusal(const ExtractRun& run, size_t k, size_t first, const std::string& firstName) {
    const std::string named = "its first name " + nativeToConsole(firstName);
    if (first == SIZE_MAX) return named + " is not in the archive";
    if (first >= k) return named + " is not stored before it";
    const ArchiveEntry& entry = run.directory.entries[first];
    if (isFolder(entry) || restoresAsLink(entry.attributes, entry.creationTime) ||
        restoresAsHardLink(entry.attributes, entry.creationTime))
        return named + " is not a file";
    const FileEntry* file = fileOfEntry(run, first);
    if (file == nullptr || !file->written) return named + " was not extracted";
    return {};
}

// The hard links, once every file of the run is complete: each is made to
// the file extracted at the path it holds, within the target.
void makeHardLinks(ExtractRun& run, const std::vector<DeferredLink>& links, const FileIdentity& archive) {
    std::vector<std::u16string> firstNames;
    for (const DeferredLink& link : links)
        if (link.entry->hardLink) firstNames.push_back(nativeToUtf16(link.linkTarget));
    if (firstNames.empty()) return;
    const std::vector<size_t> firsts = lastEntriesOf(run.directory.entries, run.directory.names, firstNames);
    size_t next = 0;
    for (const DeferredLink& link : links) {
        if (!link.entry->hardLink) continue;
        const size_t first = firsts[next++];
        const std::string refusal = hardLinkRefusal(run, entryOfFile(run, link.entry), first, link.linkTarget);
        if (!refusal.empty()) {
            reportItem(run, "cannot create hard link", joinPath(run.target, link.path), refusal);
            continue;
        }
        const std::string firstPath = placeOf(run.places, run.directory.names, first);
        const SystemStatus made =
            createHardLinkWithin(run.folders, firstPath.c_str(), link.path.c_str(), &archive);
        if (!made.ok())
            reportItem(run, "cannot create hard link", joinPath(run.target, link.path),
                       withinFolderReason(made.error));
    }
}

// The links, last: every file and folder of the run is in place, so
// nothing of the run is ever created through one of them. Hard links
// first, then the symbolic links, each kind in archive order; a later link
// of the same path replaces an earlier one (same_names.h passed the
// earlier ones already). As root a symbolic link gets its stored owner.
void makeDeferredLinks(ExtractRun& run, const std::vector<DeferredLink>& links, const FileIdentity& archive) {
    makeHardLinks(run, links, archive);
    const ModeRule modes = currentModeRule();
    for (const DeferredLink& link : links) {
        if (link.entry->hardLink) continue;
        const FileEntry& entry = *link.entry;
        const SystemStatus made = createSymbolicLinkWithin(
            run.folders, link.path.c_str(), link.linkTarget,
            storedAccessTime(entry.attributes, entry.lastAccessTime), entry.lastWriteTime, &archive);
        if (!made.ok()) {
            reportItem(run, "cannot create symbolic link", joinPath(run.target, link.path),
                       withinFolderReason(made.error));
            continue;
        }
        const StoredOwner ids = storedOwner(entry.attributes, entry.lastAccessTime);
        if (!modes.owners || !ids.stored) continue;
        const SystemStatus owned = changeOwnerWithin(run.folders, link.path.c_str(), ids.owner, ids.group);
        if (!owned.ok())
            reportItem(run, "cannot set the owner of", joinPath(run.target, link.path),
                       withinFolderReason(owned.error));
    }
}

// The FIFOs, once the stream is done; none beyond damage.
void makeFifos(ExtractRun& run, const FileIdentity& archive) {
    const ModeRule modes = currentModeRule();
    for (const size_t k : run.fifos) {
        if (k >= run.damagedAt) break;
        const ArchiveEntry& entry = run.directory.entries[k];
        const std::string path = placeOf(run.places, run.directory.names, k);
        const SystemStatus made = createFifoWithin(
            run.folders, path.c_str(),
            permissionsToApply(modes, storedUnixMode(entry.creationTime), entry.attributes), entry.lastAccessTime,
            entry.lastWriteTime, &archive);
        if (!made.ok())
            reportItem(run, "cannot create FIFO", joinPath(run.target, path), withinFolderReason(made.error));
    }
}

// What stamping folder entry `k` gives it, for the line saying that it
// could not: its times, and for a folder this run made its stored owner
// (as root) and its final mode.
std::string stampedParts(const ExtractRun& run, const ModeRule& modes, size_t k) {
    if (!run.folderMade[k]) return "times";
    const ArchiveEntry& entry = run.directory.entries[k];
    const bool owner = modes.owners && storedOwner(entry.attributes, entry.lastAccessTime).stored;
    return owner ? "times, owner and mode" : "times and mode";
}

// Second pass: the folders' times, set last because creating their
// contents changed them, and the attributes, owners and final modes of the
// folders this run created (made 0700, they stay open to their owner only
// until now; one that was there already keeps its own), all through the
// folder's own descriptor, whatever its depth.
// In reverse directory order, so every folder comes after all that lies
// inside it: one whose mode closes it (0500, 0000) is closed only once
// nothing below it needs to be opened any more. Nothing beyond damage is
// touched.
void stampFolders(ExtractRun& run) {
    const std::vector<ArchiveEntry>& entries = run.directory.entries;
    const ModeRule modes = currentModeRule();
    for (size_t k = std::min(entries.size(), run.damagedAt); k-- > 0;) {
        const ArchiveEntry& entry = entries[k];
        if (!isFolder(entry) || run.folderMissing[k]) continue;
        const std::string path = placeOf(run.places, run.directory.names, k);
        const SystemResult<FileHandle> handle = openFolderWithin(run.folders, path.c_str());
        if (!handle.ok()) {
            // A folder this run made stays open to its owner only.
            reportItem(run, "cannot set the " + stampedParts(run, modes, k) + " of folder", joinPath(run.target, path),
                       withinFolderReason(handle.error));
            continue;
        }
        const SystemStatus attributed =
            run.folderMade[k] ? applyFileAttributes(handle.value, entry.attributes) : SystemStatus{};
        if (!attributed.ok())
            reportItem(run, "cannot set the attributes of folder", joinPath(run.target, path),
                       systemReason(attributed.error));
        const SystemStatus stamped = setFileTimes(handle.value, entry.creationTime,
                                                  storedAccessTime(entry.attributes, entry.lastAccessTime),
                                                  entry.lastWriteTime);
        if (!stamped.ok())
            reportItem(run, "cannot set the times of folder", joinPath(run.target, path),
                       withinFolderReason(stamped.error));
        // Its owner before its mode, which would lose set-group-ID otherwise.
        const SystemStatus owned = run.folderMade[k] ? applyStoredOwner(handle.value, modes, entry.attributes,
                                                                         entry.lastAccessTime)
                                                     : SystemStatus{};
        if (!owned.ok())
            reportItem(run, "cannot set the owner of folder", joinPath(run.target, path),
                       systemReason(owned.error));
        const SystemStatus moded =
            run.folderMade[k]
                ? applyStoredMode(handle.value, modes, entry.attributes, entry.creationTime, kUnmarkedFolderMode)
                : SystemStatus{};
        if (!moded.ok())
            reportItem(run, "cannot set the mode of folder", joinPath(run.target, path),
                       systemReason(moded.error));
        ignoreFailure(closeFile(handle.value));  // a folder, opened to stamp it
    }
}

}  // namespace

int runExtract(const std::u16string& archivePath16, const std::vector<std::u16string>& paths,
           const CommandOptions& /*options*/, ConsoleOutput& console) {
    CommandOutcome outcome;
    const std::u16string targetPath16 = paths.empty() ? std::u16string(u".") : paths[0];
    OpenedArchive openedArchive;
    if (!openArchive(outcome, utf16ToNative(archivePath16), openedArchive)) return outcome.exitCode;
    const std::string& archivePath = openedArchive.path;
    const Directory& directory = openedArchive.directory;
    const std::vector<std::u16string> items(paths.size() > 1 ? paths.begin() + 1 : paths.end(), paths.end());
    if (targetPath16 == u"-") return extractContents(outcome, openedArchive, items, console);
    const ItemSelection selection = selectNamedItems(outcome, directory, items);

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
    const FileHandle archive = takeArchiveStream(outcome, openedArchive);
    if (archive == kNoFile) {
        ignoreFailure(closeFile(targetFolder));  // a folder, only created in
        return outcome.exitCode;
    }
    const FileIdentity archiveIdentity = identityOfFile(archive);  // no link may replace it

    // Once for the run: an interrupt then removes the temporary of the
    // file or link being made (within_folder.h).
    const InterruptHandlersForRun interruptHandlers;
    std::unique_ptr<Pipeline> pipeline = createPipeline();
    PipelineRun pipelineRun;
    ProgressCounters counters;
    ExtractRun run{.outcome = outcome,
                   .pipeline = pipelineRun,
                   .counters = counters,
                   .directory = directory,
                   .target = target,
                   .folders = FolderCursor(targetFolder)};
    if (!startExtractRun(pipelineRun, *pipeline, archive, archivePath, targetFolder)) {
        reportPipelineFailures(run, finishRun(pipelineRun));
        ignoreFailure(closeFile(targetFolder));  // a folder, only created in
        return kExitFatal;
    }

    ProgressPrinter printer;
    printer.namePrefix = nativeToConsole(withoutLongPathPrefix(target));
    startRunProgress(printer, console, ProgressKind::extract, pipelineRun, counters);

    if (!items.empty()) run.selection = &selection;
    createItems(run);
    // Only the files asked for: the stream is decoded up to the last of them.
    const std::vector<PipelineFailure> failures =
        finishRun(pipelineRun, items.empty() ? RunEnd::wholeStream : RunEnd::afterQueuedFiles);
    finishProgressPrinter(printer);

    findDamage(run);
    reportPipelineFailures(run, failures);
    reportCheckValueMismatch(run, failures);
    removeFoldersAfterDamage(run);
    makeDeferredLinks(run, takeDeferredLinks(pipelineRun), archiveIdentity);
    makeFifos(run, archiveIdentity);
    stampFolders(run);
    reportUnlistedItems(run);
    ignoreFailure(closeFile(targetFolder));  // a folder, only created in
    return outcome.exitCode;
}

}  // namespace qex
