// A link an extraction makes only after every file and folder of the run.
//
// The writer takes a link's bytes from the stream in order and checks them
// like any file's, but does not make the link: it keeps a record here, and
// the caller makes the links once the run has ended, in archive order. No
// file or folder of the run can then be created through a link the run
// itself made, whatever the order of the entries or the timing of the
// threads. Records exist only for links whose bytes all arrived and matched
// their check values.
#pragma once

#include <string>

#include "pipeline/file_entry.h"

namespace qex {

struct DeferredLink {
    std::string path;        // native, as the job named it (relative to the target folder)
    std::string linkTarget;  // a symbolic link's target, byte for byte as stored, or a
                             // hard link's first name (entry->hardLink)
    const FileEntry* entry = nullptr;  // its times and attributes (the caller's, like the job's)
};

}  // namespace qex
