// Fuzzes the directory gate: the input is a whole archive file (stream,
// NameList, entries, trailer) read through an in-memory source.
//
// A directory the gate accepts must hold what extraction relies on: one
// non-empty, single-component name per entry, a first entry at depth 0,
// depths that rise by at most one, and nesting only below folders. Writing
// an accepted directory again and reading that back must give the same
// names and entries.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_layout.h"
#include "archive/directory_builder.h"
#include "archive/directory_reader.h"
#include "fuzz_check.h"

namespace {

void checkAccepted(const qex::Directory& d, size_t archiveSize) {
    QEX_FUZZ_CHECK(d.names.size() == d.entries.size());
    QEX_FUZZ_CHECK(d.streamBytes <= archiveSize);
    for (size_t k = 0; k < d.entries.size(); ++k) {
        const std::u16string& name = d.names[k];
        QEX_FUZZ_CHECK(!name.empty() && name != u"." && name != u"..");
        QEX_FUZZ_CHECK(name.find(u'/') == std::u16string::npos);
        QEX_FUZZ_CHECK(name.find(u'\0') == std::u16string::npos);
        const unsigned depth = d.entries[k].depth;
        if (k == 0) {
            QEX_FUZZ_CHECK(depth == 0);
            continue;
        }
        const unsigned before = d.entries[k - 1].depth;
        QEX_FUZZ_CHECK(depth <= before + 1);
        if (depth > before) QEX_FUZZ_CHECK(qex::isFolder(d.entries[k - 1]));
    }
}

void checkRewrite(const qex::Directory& d) {
    // Written again as the add command writes a directory; a name too long
    // for the builder's blocks is one add would never have written.
    qex::DirectoryBuilder builder;
    for (size_t k = 0; k < d.names.size(); ++k)
        if (qex::appendItem(builder, d.names[k], d.entries[k]) == nullptr) return;
    std::vector<uint8_t> again;
    QEX_FUZZ_CHECK(qex::writeBuiltDirectory(builder, [&](const uint8_t* bytes, size_t count) {
        again.insert(again.end(), bytes, bytes + count);
        return true;
    }));
    qex::Directory reread;
    std::string problem;
    QEX_FUZZ_CHECK(qex::readDirectory(qex::memoryArchiveSource(again.data(), again.size()), reread, problem));
    QEX_FUZZ_CHECK(reread.streamBytes == 0);
    QEX_FUZZ_CHECK(reread.names == d.names);
    QEX_FUZZ_CHECK(reread.entries.size() == d.entries.size());
    for (size_t k = 0; k < d.entries.size(); ++k) {
        uint8_t a[qex::kEntryBytes], b[qex::kEntryBytes];
        qex::encodeEntry(d.entries[k], a);
        qex::encodeEntry(reread.entries[k], b);
        QEX_FUZZ_CHECK(std::equal(a, a + qex::kEntryBytes, b));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> archive(data, data + size);
    qex::Directory directory;
    std::string problem;
    if (!qex::readDirectory(qex::memoryArchiveSource(archive.data(), archive.size()), directory, problem)) {
        QEX_FUZZ_CHECK(!problem.empty());
        return 0;
    }
    checkAccepted(directory, size);
    checkRewrite(directory);
    return 0;
}
