// The writer loops for add and extract, the job take and the file finish.
#include "pipeline/writer_thread.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/invariants.h"
#include "pipeline/check_values.h"
#include "platform/file_attributes.h"
#include "platform/file_identity.h"
#include "platform/file_times.h"
#include "platform/sparse_write.h"
#include "platform/text_conversion.h"
#include "platform/unix_mode.h"
#include "platform/unix_owner.h"
#include "platform/within_folder.h"

namespace qex {

namespace {

bool writerMustStop(const PipelineControl& control) {
    return control.writerStop.load(std::memory_order_acquire) != 0 ||
           control.abortRun.load(std::memory_order_acquire) != 0;
}

// Gives a chunk's slot back to the coder.
void release(PipelineControl& control) {
    ChunkRing& ring = *control.outputRing;
    QEX_ASSERT(ring.produced.load(std::memory_order_acquire) != ring.consumed.load(std::memory_order_relaxed));
    ring.consumed.store(ring.consumed.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    wake(control.coderWake);
}

// What the output ring holds for the writer right now.
enum class Output { chunk, none, ended };

Output lookAtOutput(const PipelineControl& control) {
    // The end flag first: once it is seen, the counter loaded after it is final.
    const bool ended = control.outputEnded.load(std::memory_order_acquire) != 0;
    const ChunkRing& ring = *control.outputRing;
    if (ring.produced.load(std::memory_order_acquire) != ring.consumed.load(std::memory_order_relaxed)) {
        return Output::chunk;
    }
    return ended ? Output::ended : Output::none;
}

void runAddWriter(PipelineControl& control) {
    ChunkRing& ring = *control.outputRing;
    while (!writerMustStop(control)) {
        const uint32_t ticket = takeTicket(control.writerWake);
        const Output output = lookAtOutput(control);
        if (output == Output::ended) break;
        if (output == Output::none) {
            sleepPast(control.writerWake, ticket);
            continue;
        }
        const uint32_t chunk = ring.consumed.load(std::memory_order_relaxed);
        const SystemStatus written =
            writeAll(control.writerFile, slotData(ring, chunk), static_cast<size_t>(slotSize(ring, chunk)));
        if (!written.ok()) {
            reportFailure(control.report, FailureKind::streamWriteFailed, control.archivePath,
                          systemReason(written.error));
            abortPipeline(control);
            return;
        }
        release(control);
    }
    raiseFlag(control, control.writerDone);
}

struct ExtractState {
    explicit ExtractState(PipelineControl& control) : control(control), folders(control.writerFolder) {}

    PipelineControl& control;
    // The target and the way to the folder of the last file: the files of
    // one folder come one after another, each created without a walk.
    FolderCursor folders;
    bool haveJob = false;
    bool jobsEnded = false;  // the end marker has been seen
    RingRecord job;
    std::string path;
    // The file being written: under a temporary name beside its final one
    // when there is a target folder, at its name as given otherwise.
    PendingFile pending;
    SparseWrite sparse;  // its bytes go through here: zero blocks become holes
    uint64_t remaining = 0;
    uint32_t crc = 0;
    uint32_t crcPlusOne = 0;
    // The file's bytes pass unwritten, their check values still computed:
    // it is not to be written (passed through), or it could not be created
    // or written (reported already).
    bool discarding = false;
    uint32_t chunkOffset = 0;  // bytes of the current chunk already given to files
    uint64_t extraBytes = 0;   // decoded bytes after the last job
    // The job is a symbolic link: its bytes (its target) gather here and the
    // link is made once they are all in and their check values match.
    bool makingLink = false;
    std::string linkTarget;
    // Every file this run put in place, by identity (device, inode): a
    // later file whose name leads to one of them is refused, never put over
    // it. A few words per file.
    struct IdentityHash {
        size_t operator()(const std::pair<uint64_t, uint64_t>& id) const {
            return std::hash<uint64_t>()(id.first * 0x9E3779B97F4A7C15u ^ id.second);
        }
    };
    std::unordered_map<std::pair<uint64_t, uint64_t>, const FileEntry*, IdentityHash> placedFiles;
};

void refuseLink(ExtractState& state, const std::string& reason) {
    const bool hard = state.job.entry != nullptr && state.job.entry->hardLink;
    reportFailure(state.control.report, hard ? FailureKind::hardLinkNotCreated : FailureKind::linkNotCreated,
                  state.path, reason);
    state.discarding = true;
}

// A link's target comes from the archive: an empty one, or one longer than
// Linux takes, is refused before a single byte is gathered (its bytes pass
// unwritten, so the next file still gets its own).
void startLink(ExtractState& state) {
    state.makingLink = true;
    state.linkTarget.clear();
    if (state.remaining == 0) {
        refuseLink(state, "the link target is empty");
    } else if (state.remaining > kMaxLinkTargetBytes) {
        refuseLink(state, "the link target is longer than " + std::to_string(kMaxLinkTargetBytes) + " bytes");
    } else {
        state.linkTarget.reserve(static_cast<size_t>(state.remaining));
    }
}

// All of the link's bytes are in and match their check values: it is
// recorded, to be made after the run (deferred_link.h), unless its target
// holds a NUL (no system link can).
void finishLink(ExtractState& state) {
    if (state.linkTarget.find('\0') != std::string::npos) {
        refuseLink(state, "the link target holds a NUL byte");
        return;
    }
    state.control.deferredLinks.push_back(DeferredLink{state.path, std::move(state.linkTarget), state.job.entry});
}

// Into a target folder a file is put in place only when its check values
// match, and the first damage ends the run: every later byte of the solid
// stream is suspect, so nothing more is created. Without one (files at
// their names as given, for the pipeline's own checks) every file is
// written whole and the caller compares the check values.
bool intoTarget(const PipelineControl& control) { return control.writerFolder != kNoFile; }

// Contents only (startContentsRun): every written file's bytes go to one
// stream as they come; nothing is created, and damage ends the run too.
bool intoContents(const PipelineControl& control) { return control.writerFile != kNoFile; }

SystemResult<PendingFile> createFile(ExtractState& state) {
    if (intoTarget(state.control)) return createPendingFile(state.folders, state.path.c_str());
    const SystemResult<FileHandle> created = createForWrite(state.path.c_str());
    PendingFile direct;
    direct.file = created.value;
    return {direct, created.error};
}

void startNextFile(ExtractState& state) {
    PipelineControl& control = state.control;
    const uint32_t ticket = takeTicket(control.writerWake);
    if (!peek(control.rings->writerJobs, state.job)) {
        sleepPast(control.writerWake, ticket);
        return;
    }
    if (state.job.endOfJobs) {
        state.jobsEnded = true;
        return;
    }
    state.haveJob = true;
    state.path = utf16ToNative(state.job.name);
    state.remaining = state.job.size;
    state.crc = 0;
    state.crcPlusOne = 0;
    state.discarding = false;
    state.makingLink = false;
    if (state.job.name.empty() || (state.job.entry != nullptr && state.job.entry->passThrough)) {
        // A file main does not want written (its name could not be carried,
        // its folder is missing, it was not asked for, or main only checks
        // it): its bytes pass unwritten, their check values still computed.
        state.discarding = true;
        return;
    }
    if (state.job.entry != nullptr && (state.job.entry->symbolicLink || state.job.entry->hardLink)) {
        startLink(state);
        return;
    }
    if (intoContents(control)) return;
    SystemResult<PendingFile> created = createFile(state);
    if (!created.ok()) {
        reportFailure(control.report, FailureKind::fileNotCreated, state.path, withinFolderReason(created.error));
        state.discarding = true;
        return;
    }
    // An interrupt removes the temporary from its creation on (the
    // existing file of that name is untouched anyway).
    state.pending = std::move(created.value);
    startSparseWrite(state.sparse, state.pending.file);
}

void releaseFile(ExtractState& state) { discardPendingFile(state.pending); }

// The file is given up: its temporary goes, whatever stood at its name stays.
void dropFile(ExtractState& state, FailureKind kind, int error) {
    if (error != 0) reportFailure(state.control.report, kind, state.path, withinFolderReason(error));
    state.discarding = true;
    releaseFile(state);
}

// The file of this run that stands at a name now, if one does.
const FileEntry* placedBefore(const ExtractState& state, const FileIdentity& standing) {
    if (!standing.known) return nullptr;
    const auto found = state.placedFiles.find({standing.device, standing.inode});
    return found == state.placedFiles.end() ? nullptr : found->second;
}

// Full size, times, stored owner, final mode and read-only bit on the open
// file (created open to its owner only), close, then in place under its
// final name. Any failure leaves the final name as it was.
void placeFile(ExtractState& state, const FileEntry* entry) {
    PendingFile& pending = state.pending;
    // Taken from the open file before its times are set: looking it up
    // again would move its access time under wine.
    const FileIdentity made = identityOfFile(pending.file);
    int error = 0;
    error = finishSparseWrite(state.sparse).error;  // its full size, before its times
    if (error == 0 && entry != nullptr) {
        error = setFileTimes(pending.file, entry->creationTime,
                             storedAccessTime(entry->attributes, entry->lastAccessTime), entry->lastWriteTime)
                    .error;
        // The owner before the mode: a change of owner clears set-user-ID.
        // A file whose owner cannot be given is kept, with a message.
        if (error == 0) {
            const SystemStatus owned =
                applyStoredOwner(pending.file, state.control.writerModes, entry->attributes, entry->lastAccessTime);
            if (!owned.ok())
                reportFailure(state.control.report, FailureKind::ownerNotSet, state.path, systemReason(owned.error));
        }
        if (error == 0)
            error = applyStoredMode(pending.file, state.control.writerModes, entry->attributes, entry->creationTime,
                                    kUnmarkedFileMode)
                        .error;
        if (error == 0) error = applyFileAttributes(pending.file, entry->attributes).error;
    }
    if (error == 0) {
        const FileHandle file = pending.file;
        pending.file = kNoFile;
        error = closeFile(file).error;
    }
    if (error != 0) return dropFile(state, FailureKind::fileWriteFailed, error);
    if (intoTarget(state.control)) {
        const FileEntry* earlier = nullptr;
        error = placePendingFile(pending, &state.control.writerUntouchable, [&](const FileIdentity& standing) {
                    earlier = placedBefore(state, standing);
                    return earlier != nullptr;
                }).error;
        if (earlier != nullptr) {
            reportFailure(state.control.report, FailureKind::fileNameTaken, state.path, {}, earlier);
            return dropFile(state, FailureKind::fileNameTaken, 0);
        }
        if (error != 0) return dropFile(state, FailureKind::fileNotCreated, error);
        if (made.known && entry != nullptr) state.placedFiles[{made.device, made.inode}] = entry;
    }
    releaseFile(state);  // the file is in place: nothing of it stays open
}

bool matchesCheckValues(const ExtractState& state, const FileEntry* entry) {
    return entry == nullptr || (entry->crc == state.crc && entry->crcPlusOne == state.crcPlusOne);
}

// The file's bytes are all there (`complete`) or the stream has ended
// without them. A complete file whose check values match is put in place;
// any other is given up. The check values go into the entry, the record to
// the progress display, and the job is done.
void finishExtractedFile(ExtractState& state, bool complete) {
    PipelineControl& control = state.control;
    FileEntry* entry = state.job.entry;
    const bool matches = matchesCheckValues(state, entry);
    const bool intact = complete && (matches || !intoTarget(control));
    if (state.makingLink) {
        // A link has no temporary: it is made after the run.
        if (intact && !state.discarding) finishLink(state);
    } else if (intoContents(control)) {
        // Its bytes are written already.
    } else if (!intact || state.discarding) {
        // Without a target folder a short file keeps what it received.
        if (!intoTarget(control) && !state.discarding) ignoreFailure(finishSparseWrite(state.sparse));  // given up anyway
        dropFile(state, FailureKind::fileWriteFailed, 0);
    } else {
        placeFile(state, entry);
    }
    if (entry != nullptr) {
        entry->writtenCrc = state.crc;
        entry->writtenCrcPlusOne = state.crcPlusOne;
        entry->written = intact && !state.discarding;
        entry->received = complete;
        entry->damaged = !complete || !matches;
    }
    if (!state.job.name.empty())
        recordFinishedFile(control, control.rings->extractedFiles, state.job.name, state.job.size, entry);
    popJob(control, control.rings->writerJobs);
    state.haveJob = false;
    if (entry != nullptr && entry->damaged && (intoTarget(control) || intoContents(control))) abortPipeline(control);
}

// Gives the current file as much of the current chunk as it needs.
void writeFromChunk(ExtractState& state) {
    PipelineControl& control = state.control;
    ChunkRing& ring = *control.outputRing;
    const uint32_t chunk = ring.consumed.load(std::memory_order_relaxed);
    const uint32_t available = static_cast<uint32_t>(slotSize(ring, chunk)) - state.chunkOffset;
    const unsigned char* data = slotData(ring, chunk) + state.chunkOffset;
    if (!state.haveJob) {
        state.extraBytes += available;
        state.chunkOffset = 0;
        release(control);
        return;
    }
    const auto take = static_cast<uint32_t>(std::min<uint64_t>(available, state.remaining));
    updateCheckValues(state.crc, state.crcPlusOne, data, take);
    if (state.discarding) {
        // Its bytes pass unwritten.
    } else if (state.makingLink) {
        state.linkTarget.append(reinterpret_cast<const char*>(data), take);
    } else if (intoContents(control)) {
        const SystemStatus written = writeAll(control.writerFile, data, take);
        if (!written.ok()) {
            // Every later file would go the same way.
            reportFailure(control.report, FailureKind::fileWriteFailed, state.path, systemReason(written.error));
            state.discarding = true;
            abortPipeline(control);
        }
    } else {
        const SystemStatus written = writeSparse(state.sparse, data, take);
        if (!written.ok()) dropFile(state, FailureKind::fileWriteFailed, written.error);
    }
    state.remaining -= take;
    state.chunkOffset += take;
    if (state.chunkOffset == static_cast<uint32_t>(slotSize(ring, chunk))) {
        state.chunkOffset = 0;
        release(control);
    }
    if (state.remaining == 0) finishExtractedFile(state, true);
}

// The coder has ended: whatever job still waits for bytes cannot get them.
void reportShortFile(ExtractState& state) {
    const uint64_t wanted = state.job.size;
    const uint64_t got = wanted - state.remaining;
    if (!state.discarding) reportFailure(state.control.report, FailureKind::fileIncomplete, state.path,
                  "the archive's data ended after " + std::to_string(got) + " of " + std::to_string(wanted) +
                      " bytes");
    finishExtractedFile(state, false);
}

void runExtractWriter(PipelineControl& control) {
    ExtractState state(control);
    while (!writerMustStop(control)) {
        if (!state.haveJob && !state.jobsEnded) {
            startNextFile(state);
            continue;
        }
        if (state.jobsEnded && !state.haveJob && control.stopAfterLastJob.load(std::memory_order_acquire) != 0) {
            // Every file asked for has its bytes: the rest of the stream
            // is not decoded, and the run has succeeded.
            raiseFlag(control, control.writerDone);
            raiseFlag(control, control.doneEarly);
            return;
        }
        if (state.haveJob && state.remaining == 0) {
            finishExtractedFile(state, true);  // a zero-byte file: no chunk is touched
            continue;
        }
        const uint32_t ticket = takeTicket(control.writerWake);
        const Output output = lookAtOutput(control);
        if (output == Output::chunk) {
            writeFromChunk(state);
        } else if (output == Output::none) {
            sleepPast(control.writerWake, ticket);
        } else if (state.haveJob) {
            reportShortFile(state);
        } else {
            break;  // jobs ended and every chunk released
        }
    }
    // Stopped half-way (damage, a failure elsewhere): the file being
    // written goes.
    releaseFile(state);
    if (writerMustStop(control)) return;
    if (state.extraBytes != 0) {
        reportFailure(control.report, FailureKind::extraData, control.archivePath,
                      std::to_string(state.extraBytes) + " decoded bytes belong to no file");
    }
    raiseFlag(control, control.writerDone);
}

}  // namespace

void runWriterThread(PipelineControl& control) {
    if ((control.pipelineFlags & kExtracting) != 0) {
        runExtractWriter(control);
    } else {
        runAddWriter(control);
    }
}

}  // namespace qex
