// Windows side of creating items inside an extraction target (see
// within_folder.h). The target stays open, shared for reading and writing
// but not for deleting, so it cannot be removed or renamed and replaced
// while items are made in it; its full path comes from the handle itself.
// Below it, every component that already exists is examined first and a
// reparse point (symbolic link, junction, mount point) is refused, so no
// path made from archived names leads outside the target.
#include "platform/within_folder.h"

#include "platform/paths.h"
#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The system's "stopped at a symbolic link" code, for a path that would
// pass through a reparse point.
constexpr int kLeadsThroughLink = 681;

// The target's own full path, as "\\?\..." (or a network path).
bool targetPath(FileHandle target, std::wstring& path, int& error) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handleOf(target), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
        if (length == 0) {
            error = lastError();
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            path = std::move(buffer);
            return true;
        }
        buffer.assign(length + 1, L'\0');
    }
}

// A component the archive could not have meant as one folder level.
bool isUnsafeComponent(std::wstring_view component) {
    return component.empty() || component == L"." || component == L".." ||
           component.find_first_of(L"/:") != std::wstring_view::npos;
}

// The full path of `relative` below the target, after checking that no
// component of it (the last one included when `checkLast`) is a reparse
// point. Components that do not exist yet are fine: they are being made.
bool pathWithin(FileHandle target, const char* relative, bool checkLast, std::wstring& full, int& error) {
    if (!targetPath(target, full, error)) return false;
    const std::wstring rest = wide(std::string_view(relative));
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring_view component(rest.data() + start, end - start);
        if (isUnsafeComponent(component)) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        if (full.back() != L'\\') full.push_back(L'\\');
        full.append(component);
        const bool last = end == rest.size();
        if (!last || checkLast) {
            const DWORD attributes = GetFileAttributesW(full.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                error = kLeadsThroughLink;
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

}  // namespace

FileHandle openTargetFolder(const char* path, int& error) {
    const std::wstring systemForm = systemPath(path, error);
    if (systemForm.empty()) return kNoFile;
    const HANDLE handle = CreateFileW(systemForm.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return kNoFile;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ERROR_DIRECTORY;
        CloseHandle(handle);
        return kNoFile;
    }
    return fileOf(handle);
}

int makeFolderWithin(FileHandle target, const char* relativePath, bool& created) {
    created = false;
    std::wstring full;
    int error = 0;
    if (!pathWithin(target, relativePath, true, full, error)) return error;
    if (CreateDirectoryW(full.c_str(), nullptr)) {
        created = true;
        return 0;
    }
    error = lastError();
    if (error != ERROR_ALREADY_EXISTS) return error;
    // Something is there: a folder stays as it is, anything else is in the way.
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return lastError();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY;
}

FileHandle createFileWithin(FileHandle target, const char* relativePath, int& error,
                            const FileIdentity* untouchable) {
    std::wstring full;
    if (!pathWithin(target, relativePath, true, full, error)) return kNoFile;
    DWORD keep = 0;
    const DWORD existing = GetFileAttributesW(full.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (untouchable != nullptr && sameFile(identityOfPath(utf16ToNative(units(full)).c_str()), *untouchable)) {
            error = ERROR_BUSY;
            return kNoFile;
        }
        // Replacing a hidden or system file needs the same bits asked for;
        // the archived attributes are applied once the file is written.
        keep = existing & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
    const HANDLE handle = CreateFileW(full.c_str(), GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                                      keep != 0 ? keep : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return kNoFile;
    }
    return fileOf(handle);
}

FileHandle openFolderWithin(FileHandle target, const char* relativePath, int& error) {
    std::wstring full;
    if (!pathWithin(target, relativePath, true, full, error)) return kNoFile;
    const HANDLE handle =
        CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = lastError();
        return kNoFile;
    }
    return fileOf(handle);
}

}  // namespace qex
