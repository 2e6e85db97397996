// Windows side of opening what a listing reported: the item's full path
// with FILE_FLAG_OPEN_REPARSE_POINT (a link or junction put in its place
// is opened as itself, never followed), then its volume serial number, file
// index and type compared with the listing (see opening_listed.h).
#include "platform/opening_listed.h"

#include "platform/file_identity.h"
#include "platform/paths.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A reparse point the listing reported (a link or junction inside the
// tree, which Windows archives cannot hold as such) is followed as before;
// any other item is opened as itself.
DWORD reparseFlag(const ListedItem& item) {
    return (item.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? 0 : FILE_FLAG_OPEN_REPARSE_POINT;
}

// The handle is the listed item: same type, no reparse point where none
// was listed, and the same file when the listing learned its identity.
bool isListed(HANDLE handle, const ListedItem& item) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folder != (item.kind == ItemKind::Folder)) return false;
    if (reparseFlag(item) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
    if (!folder && GetFileType(handle) != FILE_TYPE_DISK) return false;
    const FileIdentity now = identityOfFile(fileOf(handle));
    const bool identityListed = item.device != 0 || item.inode != 0;
    return !identityListed || (now.device == item.device && now.inode == item.inode);
}

OpenedItem openAs(const OpenFolder& folder, const ListedItem& item, DWORD access, DWORD share, DWORD flags) {
    OpenedItem result;
    const SystemResult<std::wstring> systemForm = systemPath(folder.path + item.nativeName);
    if (!systemForm.ok()) {
        result.error = systemForm.error;
        return result;
    }
    const HANDLE handle =
        CreateFileW(systemForm.value.c_str(), access, share, nullptr, OPEN_EXISTING, flags | reparseFlag(item), nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.error = lastError();
        return result;
    }
    if (!isListed(handle, item)) {
        CloseHandle(handle);
        result.outcome = ListedOpen::changed;
        return result;
    }
    result.outcome = ListedOpen::opened;
    result.handle = fileOf(handle);
    return result;
}

}  // namespace

ListedOpen openListedFolder(const OpenFolder& folder, const ListedItem& item, OpenFolder& opened, int& error) {
    // Held as openFolderAt holds a folder: not shared for deleting.
    const OpenedItem result = openAs(folder, item, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_FLAG_BACKUP_SEMANTICS);
    error = result.error;
    if (result.outcome == ListedOpen::opened) {
        opened.handle = result.handle;
        opened.path = joinPath(folder.path + item.nativeName, "");
    }
    return result.outcome;
}

OpenedItem openListedItem(const OpenFolder& folder, const ListedItem& item) {
    return openAs(folder, item, GENERIC_READ, kShareAll, FILE_ATTRIBUTE_NORMAL);
}

}  // namespace qex
