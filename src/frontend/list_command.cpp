// The list command: one line per item of an archive, from its directory
// alone (nothing is decoded, so it takes the same time for any size of
// stream), then a total line.
//
//   <type> [<owner>/<group>]  <size> <YYYY-MM-DD HH:MM:SS> <CRC-32> <path>
//
// The type column is item_type_text.h's; the owner and group ids are shown
// for the entries that carry them (unix_owner.h), in a column that is there
// only when some entry does; the size is the file's byte count
// (the target's length for a symbolic link; blank for a folder); the time
// is the last write time in local time; the CRC-32 is blank for a folder;
// the path is the item's path below the archive's base with "/" between
// folders, a folder's ending with "/", escaped as every name on the console.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

#include "archive/archived_paths.h"
#include "frontend/archive_file.h"
#include "frontend/commands.h"
#include "frontend/item_type_text.h"
#include "platform/file_times.h"
#include "platform/text_conversion.h"
#include "platform/unix_owner.h"

namespace qex {
namespace {

std::string timeText(uint64_t fileTime) {
    char text[32] = "0000-00-00 00:00:00";  // a time the system cannot express
    const SystemResult<std::tm> local = localTimeOf(fileTime);
    if (local.ok()) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local.value);
    return text;
}

// "1000/100", or empty for an entry without stored ids.
std::string ownerText(const ArchiveEntry& entry) {
    const StoredOwner ids = storedOwner(entry.attributes, entry.lastAccessTime);
    if (!ids.stored) return {};
    return std::to_string(ids.owner) + "/" + std::to_string(ids.group);
}

// The width of the owner column: 0 when no entry carries ids.
size_t ownerColumnWidth(const std::vector<ArchiveEntry>& entries) {
    size_t width = 0;
    for (const ArchiveEntry& entry : entries) width = std::max(width, ownerText(entry).size());
    return width;
}

std::string itemLine(const ArchiveEntry& entry, const std::u16string& path, size_t ownerWidth) {
    const bool folder = isFolder(entry);
    char figures[64];
    if (folder) {
        std::snprintf(figures, sizeof figures, " %13s %s %8s ", "", timeText(entry.lastWriteTime).c_str(), "");
    } else {
        std::snprintf(figures, sizeof figures, " %13" PRIu64 " %s %08X ", entrySize(entry),
                      timeText(entry.lastWriteTime).c_str(), entry.crc);
    }
    std::string line = itemTypeText(entry.attributes, entry.creationTime);
    if (ownerWidth != 0) {
        const std::string owner = ownerText(entry);
        line.push_back(' ');
        line += owner;
        line.append(ownerWidth - owner.size(), ' ');
    }
    line += figures;
    line += consoleText(path);
    if (folder) line.push_back('/');
    line.push_back('\n');
    return line;
}

std::string counted(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string totalLine(uint64_t files, uint64_t folders, uint64_t bytes, uint64_t archiveBytes) {
    std::string line = counted(files, "file", "files") + ", " + counted(folders, "folder", "folders") + ", " +
                       counted(bytes, "byte", "bytes") + "; archive " + counted(archiveBytes, "byte", "bytes");
    if (bytes > 0) {
        char ratio[40];
        std::snprintf(ratio, sizeof ratio, " (%.1f%% of the content)",
                      100.0 * static_cast<double>(archiveBytes) / static_cast<double>(bytes));
        line += ratio;
    }
    line.push_back('\n');
    return line;
}

}  // namespace

int runList(const std::u16string& archivePath16, const std::vector<std::u16string>& /*paths*/,
           const CommandOptions& /*options*/, ConsoleOutput& console) {
    CommandOutcome outcome;
    const std::string archivePath = utf16ToNative(archivePath16);
    Directory directory;
    uint64_t archiveBytes = 0;
    if (!loadArchiveDirectory(outcome, archivePath, directory, archiveBytes)) return outcome.exitCode;
    uint64_t files = 0, folders = 0, bytes = 0;
    ArchivedPathWalker walker;
    const size_t ownerWidth = ownerColumnWidth(directory.entries);
    for (size_t k = 0; k < directory.entries.size(); ++k) {
        const ArchiveEntry& entry = directory.entries[k];
        const std::string line = itemLine(entry, nextArchivedPath(walker, entry, directory.names[k]), ownerWidth);
        writeConsole(console, line);
        if (isFolder(entry)) {
            ++folders;
        } else {
            ++files;
            bytes += entrySize(entry);
        }
    }
    if (!console.quiet) writeConsole(console, totalLine(files, folders, bytes, archiveBytes));
    flushConsole(console);
    if (!consoleUsable(console)) {
        // The listing is the command's whole work: failing to write it is fatal.
        reportFatal(outcome, "cannot write the listing", "", systemReason(console.error.load()));
        console.reported = true;
    }
    return outcome.exitCode;
}

}  // namespace qex
