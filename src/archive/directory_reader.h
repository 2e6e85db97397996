// Reads an archive's trailer and directory and checks it: the one gate every
// archive passes before anything is extracted from it.
//
// The format carries no checks of its own, so a damaged or hostile directory
// could otherwise make extraction write outside its target or read past its
// buffers. A directory that is accepted here holds exactly one decodable,
// non-empty single-component name per entry, starts at depth 0, never rises
// by more than one level, and nests entries only below folders. Folders'
// size fields are not looked at: folders take no bytes of the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_layout.h"

namespace qex {

// An archive opened for reading: its size and a way to read from it. Backed
// by a file in production and by memory in tests and fuzzers.
struct ArchiveSource {
    uint64_t size = 0;
    // Reads exactly `count` bytes at `offset` into `dest`; false on failure.
    std::function<bool(uint64_t offset, uint8_t* dest, size_t count)> readAt;
};

struct Directory {
    std::vector<std::u16string> names;  // names[k] belongs to entries[k]
    std::vector<ArchiveEntry> entries;
    uint64_t streamBytes = 0;  // S: the archive's size less the directory and trailer
};

// Fills `directory` and returns true, or returns false with `problem` saying
// what is wrong (without the archive's path, which the caller adds).
// `looksLikeArchive`, when given, tells a refused file apart: false when not
// even the trailer fits (not an archive of this format at all, or one whose
// end is missing), true when the trailer fits but the directory is invalid.
bool readDirectory(const ArchiveSource& source, Directory& directory, std::string& problem,
                   bool* looksLikeArchive = nullptr);

// The checks alone, on a directory already split into its two parts: the
// NameList bytes and the entry bytes.
bool parseDirectory(const uint8_t* nameList, size_t nameListBytes, const uint8_t* entryBytes,
                    size_t entryByteCount, Directory& directory, std::string& problem);

// A source over bytes in memory (which must outlive it).
ArchiveSource memoryArchiveSource(const uint8_t* data, size_t size);

}  // namespace qex
