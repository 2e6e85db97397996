// Windows side of the listing: FindFirstFileW and FindNextFileW deliver the
// items, names straight in UTF-16, in whatever order the file system keeps
// them; matching is the system's own. Every item is also opened for its
// identity (volume and file index), which the add command needs to leave
// the archive out and to notice a link that leads back up the tree.
#include "platform/listing.h"

#include "platform/file_identity.h"
#include "platform/paths.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool isFolderLink(std::wstring_view name) { return name == L"." || name == L".."; }

// The identity of what the item leads to (links followed).
void identify(ListedItem& item, const std::wstring& systemForm) {
    const HANDLE handle = CreateFileW(systemForm.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    const FileIdentity identity = identityOfFile(fileOf(handle));
    CloseHandle(handle);
    item.device = identity.device;
    item.inode = identity.inode;
}

void describe(ListedItem& item, DWORD attributes, uint64_t size, const FILETIME& creation, const FILETIME& access,
              const FILETIME& write) {
    item.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ItemKind::Folder : ItemKind::File;
    item.size = item.kind == ItemKind::File ? size : 0;
    item.attributes = static_cast<uint16_t>(attributes & 0xFFFF);
    item.creationTime = fromFileTime(creation);
    item.lastAccessTime = fromFileTime(access);
    item.lastWriteTime = fromFileTime(write);
}

ListedItem itemOf(const WIN32_FIND_DATAW& found, const std::wstring& folder) {
    ListedItem item;
    item.name = units(found.cFileName);
    item.nativeName = utf16ToNative(item.name);
    describe(item, found.dwFileAttributes, (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
             found.ftCreationTime, found.ftLastAccessTime, found.ftLastWriteTime);
    identify(item, folder + found.cFileName);
    return item;
}

}  // namespace

SystemResult<OpenFolder> openFolderAt(const std::string& path) {
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {{}, systemForm.error};
    // Shared for reading and writing but not for deleting: while the walk
    // holds it, the folder cannot be renamed or removed, so the path it is
    // listed by keeps naming it.
    const HANDLE handle = CreateFileW(systemForm.value.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {{}, lastError()};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        return {{}, ERROR_DIRECTORY};
    }
    OpenFolder folder;
    folder.handle = fileOf(handle);
    folder.path = joinPath(path, "");
    return {std::move(folder), 0};
}

void closeFolder(OpenFolder& folder) {
    if (folder.handle != kNoFile) CloseHandle(handleOf(folder.handle));
    folder.handle = kNoFile;
}

bool isNotFoundError(int error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_DIRECTORY;
}

bool isNotAFolderError(int error) { return error == ERROR_DIRECTORY; }

SystemStatus listOpenFolder(const OpenFolder& folder, std::string_view lastComponent, std::vector<ListedItem>& items) {
    // The folder's handle keeps the path naming it (openFolderAt); the
    // system lists and matches by path.
    return listPattern(folder.path + std::string(lastComponent), items);
}

SystemStatus listPattern(std::string_view pattern, std::vector<ListedItem>& items) {
    items.clear();
    const SystemResult<std::wstring> systemForm = systemPath(pattern);
    if (!systemForm.ok()) return {systemForm.error};
    const std::wstring folder = systemForm.value.substr(0, systemForm.value.find_last_of(L'\\') + 1);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(systemForm.value.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // Nothing matches in a folder that exists: an empty listing.
        if (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_NO_MORE_FILES) return {};
        return {lastError()};
    }
    do {
        if (!isFolderLink(found.cFileName)) items.push_back(itemOf(found, folder));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return {};
}

ListedItem examinePath(const std::string& path) {
    ListedItem item;
    const size_t nameStart = path.find_last_of(kPathSeparator);
    item.nativeName = nameStart == std::string::npos ? path : path.substr(nameStart + 1);
    item.name = nativeToUtf16(item.nativeName);
    const SystemResult<std::wstring> systemForm = systemPath(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!systemForm.ok() || !GetFileAttributesExW(systemForm.value.c_str(), GetFileExInfoStandard, &data)) {
        item.statError = !systemForm.ok() ? systemForm.error : lastError();
        return item;
    }
    describe(item, data.dwFileAttributes, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
             data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime);
    identify(item, systemForm.value);
    return item;
}

}  // namespace qex
