// Windows side of file identity: the volume's serial number and the file's
// index, as GetFileInformationByHandle reports them.
#include "platform/file_identity.h"

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNotRegular = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;

}  // namespace

FileIdentity identityOfFile(FileHandle file) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handleOf(file), &info)) return identity;
    identity.known = true;
    identity.regular = (info.dwFileAttributes & kNotRegular) == 0 && GetFileType(handleOf(file)) == FILE_TYPE_DISK;
    identity.device = info.dwVolumeSerialNumber;
    identity.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return identity;
}

FileIdentity identityOfPath(const char* path) {
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {};
    // Attributes only, the link itself rather than its target.
    const HANDLE handle = CreateFileW(systemForm.value.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const FileIdentity identity = identityOfFile(fileOf(handle));
    CloseHandle(handle);
    return identity;
}

SystemStatus removeIfSameFile(const char* path, const FileIdentity& identity) {
    const FileIdentity now = identityOfPath(path);
    if (!now.known || !identity.known || now.device != identity.device || now.inode != identity.inode)
        return {ERROR_FILE_EXISTS};
    const SystemResult<std::wstring> systemForm = systemPath(path);
    if (!systemForm.ok()) return {systemForm.error};
    return DeleteFileW(systemForm.value.c_str()) ? SystemStatus{} : SystemStatus{lastError()};
}

}  // namespace qex
