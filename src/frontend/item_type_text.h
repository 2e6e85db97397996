// The type and permission column of the listing: a Unix mode string for
// entries that carry a mode, Windows attribute letters for the others.
//
// An entry written on Linux has the marker attribute 0x40 set; the low 16
// bits of its creation time then hold the item's st_mode & 0xFFFF. The
// folder attribute 0x10 decides folder against file, as extraction does; a
// file whose mode has the link type is a symbolic link (its content is the
// target), and other type bits show as a plain file.
#pragma once

#include <cstdint>
#include <string>

namespace qex {

// Attribute bit that says the creation time carries a Unix mode.
inline constexpr uint16_t kUnixModeMarker = 0x40;
// The part of the creation time that holds the mode.
inline constexpr uint64_t kUnixModeBits = 0xFFFF;

// Ten characters: "drwxr-xr-x", "lrwxrwxrwx", "-rwsr-xr-x" for an entry
// with the marker; otherwise the type ('d' or '-') and the letters of the
// read-only, hidden, system and archive bits ("-R..A" for a read-only file
// with the archive bit), padded with spaces.
std::string itemTypeText(uint16_t attributes, uint64_t creationTime);

}  // namespace qex
