// Archive bytes made by hand for tests, item by item, so that damaged and
// hostile archives can be written without storing opaque binaries. A file's
// check values come from its content, which joins the stream; any part can
// then be spoilt on purpose (NameList bytes, the stream, trailer words).
// `bytes()` lays out stream | NameList | entries | N | E as the format does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/directory_builder.h"
#include "coder/memory_codec.h"
#include "pipeline/check_values.h"
#include "platform/unix_mode.h"

namespace qex::test {

// 2020-01-01 00:00 UTC as archive ticks (100 ns since 1601-01-01): a time
// every file system holds, so that stamping never adds warnings of its own.
inline constexpr uint64_t kOrdinaryFileTime = (uint64_t{1577836800} + 11644473600) * 10000000;
// The attribute an ordinary file carries (archive bit).
inline constexpr uint16_t kFileAttribute = 0x20;

struct ArchiveBuilder {
    std::vector<uint8_t> nameList;  // raw NameList bytes, names ended by 0x0A
    std::vector<ArchiveEntry> entries;
    std::string contents;  // what the stream decodes to, unless `stream` is set
    std::optional<std::vector<uint8_t>> stream;  // replaces the compressed contents
    std::optional<uint32_t> nameListBytes;       // trailer word N, when it should lie
    std::optional<uint32_t> entryBytes;          // trailer word E, when it should lie

    ArchiveBuilder& folder(uint8_t depth, std::u16string_view name) {
        ArchiveEntry e;
        e.depth = depth;
        e.attributes = kAttributeDirectory;
        e.creationTime = e.lastWriteTime = e.lastAccessTime = kOrdinaryFileTime;
        return add(e, name);
    }

    ArchiveBuilder& file(uint8_t depth, std::u16string_view name, std::string_view content) {
        ArchiveEntry e;
        e.depth = depth;
        e.attributes = kFileAttribute;
        e.creationTime = e.lastWriteTime = e.lastAccessTime = kOrdinaryFileTime;
        setEntrySize(e, content.size());
        const auto* data = reinterpret_cast<const uint8_t*>(content.data());
        updateCheckValues(e.crc, e.crcPlusOne, data, content.size());
        contents.append(content);
        return add(e, name);
    }

    // A symbolic link as Linux archives it: a marked file entry of the link
    // type (mode 0120777) whose content is the target.
    ArchiveBuilder& link(uint8_t depth, std::u16string_view name, std::string_view linkTarget) {
        file(depth, name, linkTarget);
        entries.back().attributes |= kAttributeUnixMode;
        entries.back().creationTime = withUnixMode(entries.back().creationTime, 0120777);
        return *this;
    }

    ArchiveBuilder& add(const ArchiveEntry& e, std::u16string_view name) {
        entries.push_back(e);
        appendName(nameList, name);
        return *this;
    }

    // The compressed stream of `contents` (or the replacement stream).
    std::vector<uint8_t> streamBytes() const {
        if (stream) return *stream;
        std::vector<uint8_t> out;
        compressBuffer(reinterpret_cast<const uint8_t*>(contents.data()), contents.size(), out);
        return out;
    }

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out = streamBytes();
        out.insert(out.end(), nameList.begin(), nameList.end());
        for (const ArchiveEntry& e : entries) {
            uint8_t record[kEntryBytes];
            encodeEntry(e, record);
            out.insert(out.end(), record, record + kEntryBytes);
        }
        ArchiveTrailer trailer;
        trailer.nameListBytes = nameListBytes.value_or(static_cast<uint32_t>(nameList.size()));
        trailer.entryBytes = entryBytes.value_or(static_cast<uint32_t>(entries.size() * kEntryBytes));
        uint8_t tail[kTrailerBytes];
        encodeTrailer(trailer, tail);
        out.insert(out.end(), tail, tail + kTrailerBytes);
        return out;
    }

    // bytes() as a string: a file's content or a process's input.
    std::string text() const {
        const std::vector<uint8_t> all = bytes();
        return {all.begin(), all.end()};
    }
};

// The directory (NameList, entries, trailer) of `names` and `entries` as the
// add command writes it, through its directory builder. Empty when a name
// does not fit a block.
inline std::vector<uint8_t> writtenDirectory(const std::vector<std::u16string>& names,
                                             const std::vector<ArchiveEntry>& entries) {
    DirectoryBuilder builder;
    for (size_t k = 0; k < names.size() && k < entries.size(); ++k)
        if (appendItem(builder, names[k], entries[k]) == nullptr) return {};
    std::vector<uint8_t> out;
    writeBuiltDirectory(builder, [&](const uint8_t* data, size_t size) {
        out.insert(out.end(), data, data + size);
        return true;
    });
    return out;
}

}  // namespace qex::test
