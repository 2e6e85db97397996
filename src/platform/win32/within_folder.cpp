// Windows side of creating items inside an extraction target (see
// within_folder.h). The target stays open, shared for reading and writing
// but not for deleting, so it cannot be removed or renamed and replaced
// while items are made in it; its full path comes from the handle itself.
// Below it, every component that already exists is examined first and a
// reparse point (symbolic link, junction, mount point) is refused, so no
// path made from archived names leads outside the target.
#include "platform/within_folder.h"

#include <atomic>
#include <string>

#include "platform/interrupt_cleanup.h"
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
SystemResult<std::wstring> targetPath(FileHandle target) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handleOf(target), buffer.data(),
                                                       static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
        if (length == 0) return {{}, lastError()};
        if (length < buffer.size()) {
            buffer.resize(length);
            return {std::move(buffer), 0};
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
SystemResult<std::wstring> pathWithin(FileHandle target, const char* relative, bool checkLast) {
    SystemResult<std::wstring> full = targetPath(target);
    if (!full.ok()) return full;
    const std::wstring rest = wide(std::string_view(relative));
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring_view component(rest.data() + start, end - start);
        if (isUnsafeComponent(component)) return {{}, ERROR_INVALID_NAME};
        if (full.value.back() != L'\\') full.value.push_back(L'\\');
        full.value.append(component);
        const bool last = end == rest.size();
        if (!last || checkLast) {
            const DWORD attributes = GetFileAttributesW(full.value.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                return {{}, kLeadsThroughLink};
        }
        start = end + 1;
    }
    return full;
}

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

}  // namespace

// Windows keeps no levels: every path is checked from the target.
FolderCursor::~FolderCursor() = default;

SystemResult<FileHandle> openTargetFolder(const char* path) {
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {kNoFile, systemForm.error};
    const HANDLE handle = CreateFileW(systemForm.value.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {kNoFile, lastError()};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        CloseHandle(handle);
        return {kNoFile, ERROR_DIRECTORY};
    }
    return {fileOf(handle), 0};
}

SystemResult<bool> makeFolderWithin(FolderCursor& at, const char* relativePath) {
    const SystemResult<std::wstring> full = pathWithin(at.target, relativePath, true);
    if (!full.ok()) return {false, full.error};
    if (CreateDirectoryW(full.value.c_str(), nullptr)) return {true, 0};
    const int error = lastError();
    if (error != ERROR_ALREADY_EXISTS) return {false, error};
    // Something is there: a folder stays as it is, anything else is in the way.
    const DWORD attributes = GetFileAttributesW(full.value.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return {false, lastError()};
    return {false, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? 0 : ERROR_DIRECTORY};
}

SystemStatus removeEmptyFolderWithin(FolderCursor& at, const char* relativePath) {
    const SystemResult<std::wstring> full = pathWithin(at.target, relativePath, true);
    if (!full.ok()) return {full.error};
    return {RemoveDirectoryW(full.value.c_str()) ? 0 : lastError()};
}

namespace {

// Tried in turn when a temporary name is taken already (by an earlier run
// that was killed, say); each try is an exclusive create.
constexpr int kTemporaryNameTries = 100;

std::atomic<unsigned> temporaryCounter{0};

std::wstring temporaryNameFor(unsigned count) {
    return L".qex-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(count) + L".part";
}

}  // namespace

SystemResult<PendingFile> createPendingFile(FolderCursor& at, const char* relativePath) {
    // The final name itself is checked too: a link standing there is left
    // alone rather than replaced.
    const SystemResult<std::wstring> full = pathWithin(at.target, relativePath, true);
    if (!full.ok()) return {{}, full.error};
    const std::wstring folder = full.value.substr(0, full.value.rfind(L'\\') + 1);
    int error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < kTemporaryNameTries && error == ERROR_FILE_EXISTS; ++attempt) {
        const std::wstring temporary =
            folder + temporaryNameFor(temporaryCounter.fetch_add(1, std::memory_order_relaxed));
        const std::string temporaryNative = utf16ToNative(units(temporary));
        const Arming arming = armBeforeCreating(kNoFile, temporaryNative.c_str());
        if (arming == Arming::interrupted) return {{}, ERROR_OPERATION_ABORTED};
        // Attributes readable too: extraction learns the file's identity from this handle.
        const HANDLE handle = CreateFileW(temporary.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        const int created = handle != INVALID_HANDLE_VALUE ? 0 : lastError();
        if (arming == Arming::armed) armedCreationDone(created == 0, created == 0 ? fileOf(handle) : kNoFile);
        if (created == 0) {
            PendingFile pending;
            pending.armed = arming == Arming::armed;
            pending.file = fileOf(handle);
            pending.temporaryName = utf16ToNative(units(temporary));
            pending.finalName = utf16ToNative(units(full.value));
            return {std::move(pending), 0};
        }
        error = created;
    }
    return {{}, error};
}

SystemStatus placePendingFile(PendingFile& pending, const FileIdentity* untouchable, const KeepStanding& keep) {
    const std::wstring temporary = wide(pending.temporaryName);
    const std::wstring final = wide(pending.finalName);
    const DWORD existing = GetFileAttributesW(final.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        const FileIdentity standing =
            keep || untouchable != nullptr ? identityOfPath(pending.finalName.c_str()) : FileIdentity{};
        if (keep && standing.known && keep(standing)) return {ERROR_FILE_EXISTS};
        if ((existing & FILE_ATTRIBUTE_DIRECTORY) != 0) return {ERROR_ACCESS_DENIED};
        if (untouchable != nullptr && sameFile(standing, *untouchable)) return {ERROR_BUSY};
        // A read-only file refuses to be replaced: the bit is cleared first
        // (and put back if the replace fails).
        if ((existing & FILE_ATTRIBUTE_READONLY) != 0 &&
            !SetFileAttributesW(final.c_str(), existing & ~FILE_ATTRIBUTE_READONLY))
            return {lastError()};
    }
    if (!MoveFileExW(temporary.c_str(), final.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const int error = lastError();
        if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY) != 0)
            SetFileAttributesW(final.c_str(), existing);
        return {error};
    }
    pending.temporaryName.clear();
    if (pending.armed) disarmRemovalOnInterrupt();  // only now: see the Linux side
    pending.armed = false;
    return {};
}

void discardPendingFile(PendingFile& pending) {
    if (pending.file != kNoFile) CloseHandle(handleOf(pending.file));
    pending.file = kNoFile;
    if (pending.temporaryName.empty()) return;
    const std::wstring temporary = wide(pending.temporaryName);
    // Its read-only bit may be set already; it would refuse the delete.
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary.c_str());
    pending.temporaryName.clear();
    if (pending.armed) disarmRemovalOnInterrupt();
    pending.armed = false;
}

std::string withinFolderReason(int error) {
    if (error == kLeadsThroughLink) return "passes through a link, which could lead outside the target folder";
    return systemReason(error);
}

SystemStatus createSymbolicLinkWithin(FolderCursor&, const char*, const std::string&, uint64_t, uint64_t,
                                      const FileIdentity*) {
    return {ERROR_NOT_SUPPORTED};
}

SystemStatus createFifoWithin(FolderCursor&, const char*, uint16_t, uint64_t, uint64_t, const FileIdentity*) {
    return {ERROR_NOT_SUPPORTED};
}

SystemStatus createHardLinkWithin(FolderCursor&, const char*, const char*, const FileIdentity*) {
    return {ERROR_NOT_SUPPORTED};
}

SystemStatus changeOwnerWithin(FolderCursor&, const char*, uint32_t, uint32_t) { return {ERROR_NOT_SUPPORTED}; }

SystemResult<FileHandle> openFolderWithin(FolderCursor& at, const char* relativePath) {
    const SystemResult<std::wstring> full = pathWithin(at.target, relativePath, true);
    if (!full.ok()) return {kNoFile, full.error};
    const HANDLE handle =
        CreateFileW(full.value.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {kNoFile, lastError()};
    return {fileOf(handle), 0};
}

}  // namespace qex
