// ReaderThread: feeds the input ring.
//
// Add: reads the files queued in `readerJobs` one after the other, 64 KiB
// at a time straight into the ring's slots, and computes each file's size
// and check values in the same pass; when a file ends (or fails, or cannot
// be opened) its entry gets the size and check values of exactly the bytes
// that entered the stream, and its job is popped. A job whose entry is a
// symbolic link reads the link's target instead. A job whose entry carries
// an opened source (FileEntry::source) reads that and never opens the
// job's name; a file of which nothing could be read is marked `unread`. Extract: reads the
// archive from its first byte. Either way it stops at the end marker.
//
// Each file's data is a run of full chunks followed by one shorter chunk or
// none; no chunk is empty and no chunk holds bytes of two files.
#pragma once

#include "pipeline/pipeline_control.h"

namespace qex {

void runReaderThread(PipelineControl& control);

}  // namespace qex
