// Trailer and directory reading with every structural check; see
// directory_reader.h. Entries and names are numbered from 1 in messages.
#include "archive/directory_reader.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/paths.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

// Longest part of a name quoted in a message; hostile names may be huge.
constexpr size_t kQuotedNameUnits = 80;

std::string format(const char* pattern, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// A name for a message: escaped as the console shows names.
std::string quoted(const std::u16string& name) {
    std::string text(1, '"');
    text += utf16ToUtf8(escapedForConsole(std::u16string_view(name).substr(0, kQuotedNameUnits)));
    text += name.size() > kQuotedNameUnits ? "...\"" : "\"";
    return text;
}

std::string describeEntry(const Directory& d, size_t k) {
    return format("entry %zu ", k + 1) + quoted(d.names[k]);
}

bool decodeNames(const uint8_t* list, size_t size, size_t entryCount, Directory& d,
                 std::string& problem) {
    if (size > 0 && list[size - 1] != kNameEnd) {
        problem = "the name list does not end with a line feed";
        return false;
    }
    size_t nameCount = 0;
    for (size_t i = 0; i < size; ++i) nameCount += list[i] == kNameEnd;
    if (nameCount != entryCount) {
        problem = format("the name list holds %zu names for %zu entries", nameCount, entryCount);
        return false;
    }
    d.names.resize(nameCount);
    size_t start = 0;
    for (size_t k = 0; k < nameCount; ++k) {
        const size_t end = static_cast<const uint8_t*>(std::memchr(list + start, kNameEnd, size - start)) - list;
        size_t bad = 0;
        const NameDecodeError error = decodeName(list + start, end - start, d.names[k], bad);
        if (error != NameDecodeError::none) {
            const uint8_t byte = list[start + bad];
            const size_t offset = start + bad;
            if (error == NameDecodeError::strayContinuation)
                problem = format("name %zu does not decode: stray continuation byte 0x%02X at offset %zu of the name list", k + 1, byte, offset);
            else if (error == NameDecodeError::missingContinuation)
                problem = format("name %zu does not decode: lead byte 0x%02X at offset %zu of the name list lacks its continuation bytes", k + 1, byte, offset);
            else
                problem = format("name %zu does not decode: byte 0x%02X at offset %zu of the name list cannot occur in a name", k + 1, byte, offset);
            return false;
        }
        start = end + 1;
    }
    return true;
}

// A name must be one path component that stays inside its parent folder.
bool checkName(const std::u16string& name, size_t k, std::string& problem) {
    if (name.empty()) {
        problem = format("name %zu is empty", k + 1);
        return false;
    }
    if (name == u"." || name == u"..") {
        problem = format("name %zu is \"%s\", which would leave its folder", k + 1, name == u"." ? "." : "..");
        return false;
    }
    // On Windows a backslash would be a second component.
    const size_t breaking = name.find_first_of(kNameBreakingUnits);
    if (breaking != std::u16string::npos) {
        const char unit[2] = {static_cast<char>(name[breaking]), 0};
        problem = format("name %zu ", k + 1) + quoted(name) + format(" contains \"%s\"", unit);
        return false;
    }
    if (name.find(u'\0') != std::u16string::npos) {
        problem = format("name %zu contains the unit 0", k + 1);
        return false;
    }
    return true;
}

bool checkNesting(const Directory& d, std::string& problem) {
    const auto& entries = d.entries;
    if (!entries.empty() && entries[0].depth != 0) {
        problem = describeEntry(d, 0) + format(" is at depth %u; the first entry must be at depth 0", entries[0].depth);
        return false;
    }
    for (size_t k = 1; k < entries.size(); ++k) {
        const unsigned before = entries[k - 1].depth;
        const unsigned depth = entries[k].depth;
        if (depth > before + 1) {
            problem = describeEntry(d, k) + format(" is at depth %u, more than one level below the entry before it (depth %u)", depth, before);
            return false;
        }
        if (depth > before && !isFolder(entries[k - 1])) {
            problem = describeEntry(d, k - 1) + " has entries nested below it but is not a folder";
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseDirectory(const uint8_t* nameList, size_t nameListBytes, const uint8_t* entryBytes,
                    size_t entryByteCount, Directory& d, std::string& problem) {
    d.names.clear();
    d.entries.clear();
    if (entryByteCount % kEntryBytes != 0) {
        problem = format("the entries take %zu bytes, which is not a multiple of %zu", entryByteCount, kEntryBytes);
        return false;
    }
    const size_t entryCount = entryByteCount / kEntryBytes;
    if (!decodeNames(nameList, nameListBytes, entryCount, d, problem)) return false;
    for (size_t k = 0; k < d.names.size(); ++k)
        if (!checkName(d.names[k], k, problem)) return false;
    d.entries.resize(entryCount);
    for (size_t k = 0; k < entryCount; ++k) d.entries[k] = decodeEntry(entryBytes + k * kEntryBytes);
    return checkNesting(d, problem);
}

bool readDirectory(const ArchiveSource& source, Directory& d, std::string& problem, bool* looksLikeArchive) {
    if (looksLikeArchive != nullptr) *looksLikeArchive = false;
    if (source.size < kTrailerBytes) {
        problem = format("the archive is too short to hold a directory (%llu bytes)", static_cast<unsigned long long>(source.size));
        return false;
    }
    uint8_t tail[kTrailerBytes];
    if (!source.readAt(source.size - kTrailerBytes, tail, kTrailerBytes)) {
        problem = "cannot read the directory trailer";
        return false;
    }
    const ArchiveTrailer trailer = decodeTrailer(tail);
    const uint64_t directoryBytes = uint64_t{trailer.nameListBytes} + trailer.entryBytes;
    if (directoryBytes + kTrailerBytes > source.size) {
        problem = format("the directory (N = %u, E = %u, plus the 8-byte trailer) is larger than the archive (%llu bytes)",
                         trailer.nameListBytes, trailer.entryBytes, static_cast<unsigned long long>(source.size));
        return false;
    }
    if (trailer.entryBytes % kEntryBytes != 0) {
        problem = format("the entries take %u bytes, which is not a multiple of %zu", trailer.entryBytes, kEntryBytes);
        return false;
    }
    if (looksLikeArchive != nullptr) *looksLikeArchive = true;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<size_t>(directoryBytes));
    } catch (const std::bad_alloc&) {
        problem = "not enough memory to hold the directory";
        return false;
    }
    d.streamBytes = source.size - directoryBytes - kTrailerBytes;
    if (!source.readAt(d.streamBytes, buffer.data(), buffer.size())) {
        problem = "cannot read the directory";
        return false;
    }
    return parseDirectory(buffer.data(), trailer.nameListBytes, buffer.data() + trailer.nameListBytes,
                          trailer.entryBytes, d, problem);
}

ArchiveSource memoryArchiveSource(const uint8_t* data, size_t size) {
    ArchiveSource source;
    source.size = size;
    source.readAt = [data, size](uint64_t offset, uint8_t* dest, size_t count) {
        if (offset > size || count > size - offset) return false;
        if (count > 0) std::memcpy(dest, data + offset, count);
        return true;
    };
    return source;
}

}  // namespace qex
