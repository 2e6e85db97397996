// What went wrong during a pipeline run, for the front end to tell the user
// after the run has stopped.
//
// Failures are rare, so they are collected in a list under a mutex; the
// data threads add to it, main reads it once the worker has ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace qex {

enum class FailureKind {
    workerStartFailed,   // a thread, the coroutine stack or the model arena could not be obtained
    sourceUnreadable,    // add: a file could not be opened or failed while read; its entry
                         //   holds the bytes that entered the stream
    sourceChanged,       // add: a file grew or shrank while read (the reason says which); its
                         //   entry holds the bytes that entered the stream, at most the listed size
    streamWriteFailed,   // add: writing the compressed stream failed; the run stopped
    archiveReadFailed,   // extract: reading the archive failed; the stream ends there
    fileNotCreated,      // extract: a file could not be created; its bytes were skipped
    linkNotCreated,      // extract: a symbolic link was refused or could not be made
    hardLinkNotCreated,  // extract: a hard link was refused before the run ended
    fileWriteFailed,     // extract: writing, stamping or closing a file failed
    ownerNotSet,         // extract: the stored owner could not be given; the item is kept
    fileIncomplete,      // extract: the stream ended before the file had all its bytes
    extraData,           // extract: decoded bytes beyond the last file (a damaged stream)
    fileFailuresUnlisted,  // extract: `count` more file failures, counted but not kept
};

// Failures about single files beyond this many are only counted, so a
// hostile archive of many failing files costs no memory per file.
inline constexpr size_t kKeptFileFailures = 100;

struct PipelineFailure {
    FailureKind kind;
    std::string path;    // native path of the file concerned (empty if none)
    std::string reason;  // system error text or a description
    uint64_t count = 1;  // failures this record stands for
};

struct PipelineReport {
    std::mutex lock;
    std::vector<PipelineFailure> failures;
    size_t keptFileFailures = 0;
    uint64_t unlistedFileFailures = 0;
};

void reportFailure(PipelineReport& report, FailureKind kind, std::string path, std::string reason);

// A copy of the failures so far, in the order they were reported; the file
// failures beyond kKeptFileFailures as one fileFailuresUnlisted at the end.
std::vector<PipelineFailure> failuresOf(PipelineReport& report);

}  // namespace qex
