// The two check values stored with every file: Crc32 (the standard reflected
// CRC-32, polynomial 0xEDB88320) and Crc32PlusOne (the same over every byte
// increased by one, modulo 256).
//
// Both are kept in complemented form: the running value starts at 0 for a
// new file, each update continues it, and the running value after the last
// byte is the value stored in the archive (no preset, no final complement).
// Updating in pieces gives the same value as one update over the whole.
// The tables are compile-time constants; nothing here has mutable state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qex {

// One byte of Crc32 by its defining rule, c = (c >> 8) ^ T[(c ^ b) & 0xFF].
uint32_t crc32Step(uint32_t crc, uint8_t byte);

// Both values continued over `size` bytes in one pass; what the reader and
// writer threads call for every chunk.
void updateCheckValues(uint32_t& crc, uint32_t& crcPlusOne, const uint8_t* data, size_t size);

}  // namespace qex
