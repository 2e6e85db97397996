// WriterThread: empties the output ring.
//
// Add: appends every chunk to the archive; a failed or short write stops
// the run (reported). Extract: divides the decoded stream into the files
// queued in `writerJobs`, in order, each taking exactly its byte count; it
// writes each file under a temporary name beside its final one, computes
// its check values, and, when all its bytes are there and match, stamps its
// times, applies its stored mode and attributes and renames it over its final name (an
// existing file there is replaced, never written into); then it records
// the finished file for the progress display. A job whose entry is a
// symbolic link gathers its bytes (the target, at most 4095 of them, no NUL)
// and makes the link, under a temporary name renamed over the final one,
// once they are in and their check values match. A job without a name (a file
// main does not want written) or whose entry is marked `passThrough` (a
// file only to be checked) creates nothing: its bytes are taken, their
// check values computed, and discarded. Without a target folder (the test
// command, the pipeline's own tests) files are written at their names as
// given and the caller compares check values. Under `stopAfterLastJob` the
// writer ends the run as soon as the jobs have ended and the last file has
// its bytes, so the rest of the stream is never decoded: it raises
// `writerDone` and then `doneEarly`, never `abortRun`.
//
// Sound ends: a file that cannot be created or written still consumes its
// bytes (discarded), and its temporary is removed, so every later file gets
// its own and an existing file of its name stays as it was. Into a target
// folder, the first file whose bytes fail their check values, or that the
// stream ends inside, ends the run: nothing later is trusted or created.
// Otherwise main ends the jobs with the end marker, after which decoded
// bytes that belong to no job are released unwritten and reported as
// damage. Only when all of that is done does the writer raise `writerDone`,
// which the worker waits for before it ends the run.
#pragma once

#include "pipeline/pipeline_control.h"

namespace qex {

void runWriterThread(PipelineControl& control);

}  // namespace qex
