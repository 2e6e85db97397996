// The type and permission column of the listing: a Unix mode string for
// entries that carry a mode, Windows attribute letters for the others.
//
// An entry written on Linux has the marker attribute 0x40 set; the low 16
// bits of its creation time then hold the item's st_mode & 0xFFFF. The
// folder attribute 0x10 decides folder against file, as extraction does; a
// file whose mode has the link type is a symbolic link (its content is the
// target), one with the hard-link type a further name of an earlier file
// (its content is that file's path), and other type bits show as a plain
// file.
#pragma once

#include <cstdint>
#include <string>

namespace qex {

// Ten characters: "drwxr-xr-x", "lrwxrwxrwx", "hrw-r--r--", "-rwsr-xr-x" for an entry
// with the marker; otherwise the type ('d' or '-') and the letters of the
// read-only, hidden, system and archive bits ("-R..A" for a read-only file
// with the archive bit), padded with spaces.
std::string itemTypeText(uint16_t attributes, uint64_t creationTime);

}  // namespace qex
