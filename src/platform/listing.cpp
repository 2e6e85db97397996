// Folder listing with wildcard patterns, sorted in NTFS order (see listing.h).
#include "platform/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/file_times.h"
#include "platform/paths.h"
#include "platform/text_conversion.h"

namespace qex {
namespace {

// One character of a UTF-16 name: a surrogate pair is one, a lone surrogate
// stands for itself.
std::u32string charactersOf(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            out.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

char16_t foldedUnit(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool isFolderLink(std::string_view name) { return name == "." || name == ".."; }

uint16_t attributesOf(ItemKind kind, mode_t mode, std::string_view name, bool examined) {
    uint16_t attributes = kind == ItemKind::Folder ? kAttributeDirectory : kAttributeFile;
    if (examined && (mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
    if (!name.empty() && name.front() == '.') attributes |= kAttributeHidden;
    return attributes;
}

ItemKind kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return ItemKind::Folder;
    if (S_ISREG(mode)) return ItemKind::File;
    return ItemKind::Special;
}

uint64_t fileTimeOf(const struct statx_timestamp& t) {
    timespec time{};
    time.tv_sec = t.tv_sec;
    time.tv_nsec = t.tv_nsec;
    return timespecToFileTime(time);
}

// Fills `item` from a statx result.
void describe(ListedItem& item, const struct statx& st, std::string_view name) {
    item.kind = kindOf(st.stx_mode);
    item.size = item.kind == ItemKind::File ? st.stx_size : 0;
    item.attributes = attributesOf(item.kind, st.stx_mode, name, true);
    item.lastWriteTime = fileTimeOf(st.stx_mtime);
    item.lastAccessTime = fileTimeOf(st.stx_atime);
    item.creationTime =
        (st.stx_mask & STATX_BTIME) != 0 ? fileTimeOf(st.stx_btime) : item.lastWriteTime;
    item.device = makedev(st.stx_dev_major, st.stx_dev_minor);  // comparable with st_dev
    item.inode = st.stx_ino;
}

}  // namespace

bool matchesWildcards(std::u16string_view pattern, std::u16string_view name) {
    const std::u32string p = charactersOf(pattern);
    const std::u32string n = charactersOf(name);
    // Greedy match with backtracking to the last "*": linear in practice and
    // never worse than |p| * |n|.
    size_t pi = 0, ni = 0;
    size_t starAt = std::u32string::npos, starName = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == U'?' || (p[pi] != U'*' && p[pi] == n[ni]))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == U'*') {
            starAt = pi++;
            starName = ni;
        } else if (starAt != std::u32string::npos) {
            pi = starAt + 1;
            ni = ++starName;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == U'*') ++pi;
    return pi == p.size();
}

bool listedBefore(std::u16string_view a, std::u16string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const char16_t fa = foldedUnit(a[i]), fb = foldedUnit(b[i]);
        if (fa != fb) return fa < fb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

namespace {

// `exists` turns false when nothing at all is at `path` any more (an item
// removed between reading the folder and examining it).
ListedItem examineNamed(int folderFd, const std::string& path, std::string_view ownName,
                        std::u16string name16, bool& exists) {
    exists = true;
    ListedItem item;
    item.nativeName.assign(ownName);
    item.name = std::move(name16);

    constexpr unsigned kWanted = STATX_BASIC_STATS | STATX_BTIME;
    struct statx st {};
    if (statx(folderFd, path.c_str(), AT_STATX_SYNC_AS_STAT, kWanted, &st) == 0) {
        describe(item, st, ownName);
        return item;
    }
    // The item could not be followed (a dangling or looping link, or no
    // rights): it is an unreadable file, described by the link itself where
    // possible.
    item.statError = errno;
    item.kind = ItemKind::File;
    if (statx(folderFd, path.c_str(), AT_STATX_SYNC_AS_STAT | AT_SYMLINK_NOFOLLOW, kWanted, &st) ==
        0) {
        describe(item, st, ownName);
        item.kind = ItemKind::File;
        item.size = 0;
        item.attributes = attributesOf(ItemKind::File, st.stx_mode, ownName, true);
    } else {
        exists = errno != ENOENT;
        item.attributes = attributesOf(ItemKind::File, 0, ownName, false);
    }
    return item;
}

}  // namespace

ListedItem examinePath(const std::string& path) {
    const std::string_view ownName = std::string_view(path).substr(lastComponentStart(path));
    bool exists = true;
    return examineNamed(AT_FDCWD, path, ownName, nativeToUtf16(ownName), exists);
}

bool listPattern(std::string_view pattern, std::vector<ListedItem>& items, int& error) {
    items.clear();
    error = 0;
    const size_t nameStart = lastComponentStart(pattern);
    const std::string_view last = pattern.substr(nameStart);
    const std::string folder = nameStart == 0 ? std::string(".") : std::string(pattern.substr(0, nameStart));

    if (!hasWildcards(last)) {
        if (last.empty() || isFolderLink(last)) return true;
        // Only an item that exists in some form (a dangling link too) is
        // listed; a missing one is an empty listing.
        struct stat own {};
        const std::string path(pattern);
        if (lstat(path.c_str(), &own) != 0) {
            if (errno == ENOENT || errno == ENOTDIR) return true;
            error = errno;
            return false;
        }
        items.push_back(examinePath(path));
        return true;
    }

    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        error = errno;
        return false;
    }
    DIR* dir = fdopendir(folderFd);
    if (dir == nullptr) {
        error = errno;
        close(folderFd);
        return false;
    }
    const std::u16string wanted = nativeToUtf16(last);
    int readError = 0;
    for (;;) {
        errno = 0;  // readdir reports its errors only through errno
        const dirent* found = readdir(dir);
        if (found == nullptr) {
            readError = errno;
            break;
        }
        const std::string name(found->d_name);
        if (isFolderLink(name)) continue;
        std::u16string name16 = nativeToUtf16(name);
        if (!matchesWildcards(wanted, name16)) continue;
        bool exists = true;
        ListedItem item = examineNamed(folderFd, name, name, std::move(name16), exists);
        if (exists) items.push_back(std::move(item));
    }
    closedir(dir);
    if (readError != 0) {
        error = readError;
        return false;
    }
    std::sort(items.begin(), items.end(), [](const ListedItem& a, const ListedItem& b) {
        return listedBefore(a.name, b.name);
    });
    return true;
}

}  // namespace qex
