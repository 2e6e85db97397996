// WriterThread: empties the output ring.
//
// Add: appends every chunk to the archive; a failed or short write stops
// the run (reported). Extract: divides the decoded stream into the files
// queued in `writerJobs`, in order, each taking exactly its byte count; it
// creates each file, writes it, computes its check values, stamps its times
// and applies its attributes, and records the finished file for the
// progress display. A job without a name is a file main could not queue
// by name: its bytes are taken and discarded.
//
// Sound ends: a file that cannot be created or written still consumes its
// bytes (discarded), so every later file gets its own; main ends the jobs
// with the end marker, after which decoded bytes that belong to no job are
// released unwritten and reported as damage; when the coder has published
// its last chunk, a file still short is reported, and so is every later job
// that needs bytes, while zero-byte files are still made. Only when all of
// that is done does the writer raise `writerDone`, which the worker waits
// for before it ends the run.
#pragma once

#include "pipeline/pipeline_control.h"

namespace qex {

void runWriterThread(PipelineControl& control);

}  // namespace qex
