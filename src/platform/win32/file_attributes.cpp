// Windows side of the archived attributes. The stored 16 bits are applied
// as they are, less the ones no program can set (folder, device, sparse,
// reparse point, compressed, encrypted and the like): those describe how the
// system stores an item and follow from how it was created.
#include "platform/file_attributes.h"

#include "platform/win32/system_paths.h"

namespace qex {

using namespace win32;

namespace {

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// What the system is asked for: "normal" is how it spells "none of them".
DWORD settable(uint16_t attributes) {
    const DWORD bits = attributes & kSettableAttributes;
    return bits != 0 ? bits : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

SystemStatus applyFileAttributes(FileHandle file, uint16_t attributes) {
    // The handle form of SetFileAttributesW: times left at 0 stay as they are.
    FILE_BASIC_INFO info{};
    info.FileAttributes = settable(attributes);
    return SetFileInformationByHandle(handleOf(file), FileBasicInfo, &info, sizeof info) ? SystemStatus{} : SystemStatus{lastError()};
}

}  // namespace qex
