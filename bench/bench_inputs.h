// Benchmark inputs assembled from files present on the machine.
//
// An input is the concatenation of whole files, taken from a fixed list of
// source folders in that order; within a folder the files are taken in
// bytewise-sorted path order. A folder that is missing is skipped without
// changing the order of the rest. Each folder has a byte budget, the input as
// a whole a cap; a file that would exceed either is skipped, so the same
// machine always yields the same bytes. Files whose contents were already
// taken (same size and CRC-32) are skipped, so packaged duplicates do not
// flatter the model with long exact repeats.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#if QEX_BENCH_HAVE_ZLIB
#include <zlib.h>
#endif

#include "bench_checks.h"

namespace qexbench {

struct BenchInput {
    std::string name;
    std::vector<uint8_t> bytes;
    std::vector<std::string> files;  // in the order they were taken
};

enum class Accept { Prose, Executable, Anything };

struct SourceFolder {
    const char* path;
    bool recursive;
    uint64_t budget;  // bytes this folder may contribute
};

// Files larger than this are skipped: one huge file would make an input of
// one kind of data only.
inline constexpr uint64_t kMaxFileBytes = 4u << 20;

// Regular files under `root` (symbolic links are not followed), sorted
// bytewise. Unreadable folders are passed over.
inline std::vector<std::string> sortedFiles(const std::string& root, bool recursive) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(root, ec))) return out;
    auto take = [&](const fs::directory_entry& e) {
        std::error_code ec2;
        if (e.is_regular_file(ec2) && !e.is_symlink(ec2)) out.push_back(e.path().string());
    };
    const auto opts = fs::directory_options::skip_permission_denied;
    if (recursive) {
        for (fs::recursive_directory_iterator it(root, opts, ec), end; !ec && it != end; it.increment(ec))
            take(*it);
    } else {
        for (fs::directory_iterator it(root, opts, ec), end; !ec && it != end; it.increment(ec))
            take(*it);
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline bool readFile(const std::string& path, std::vector<uint8_t>& out, uint64_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > limit) return false;
    in.seekg(0);
    out.resize(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(out.data()), size);
    return static_cast<bool>(in) || size == 0;
}

inline bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads a file, decompressing it when it is gzip'd and zlib is built in.
// Returns false for files that cannot be read, exceed the limit, or are
// compressed while zlib is not available.
inline bool readContents(const std::string& path, std::vector<uint8_t>& out, uint64_t limit) {
    if (!endsWith(path, ".gz")) return readFile(path, out, limit);
#if QEX_BENCH_HAVE_ZLIB
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    uint8_t buf[1 << 16];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0) {
        out.insert(out.end(), buf, buf + n);
        if (out.size() > limit) break;
    }
    const bool ok = n == 0 && out.size() <= limit;
    gzclose(f);
    return ok;
#else
    (void)out;
    (void)limit;
    return false;
#endif
}

// Name-based filter for documentation: plain-text kinds only (no HTML,
// scripts or sources), judged on the name without its ".gz".
inline bool isProseName(const std::string& path) {
    std::string name = std::filesystem::path(path).filename().string();
    if (endsWith(name, ".gz")) name.resize(name.size() - 3);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return true;
    const std::string ext = name.substr(dot);
    static const char* const kProse[] = {".txt", ".md", ".rst", ".Debian", ".info", ".1", ".2",
                                         ".3",   ".4",  ".5",   ".6",      ".7",    ".8"};
    for (const char* e : kProse)
        if (ext == e) return true;
    // Split info manuals: name.info-1, name.info-2, ...
    return name.find(".info-") != std::string::npos;
}

// Mostly English text: no NUL, almost no control bytes, few bytes above 0x7F.
inline bool looksLikeProse(const std::vector<uint8_t>& b) {
    if (b.empty()) return false;
    size_t control = 0, high = 0;
    for (uint8_t c : b) {
        if (c == 0) return false;
        if (c >= 0x80) ++high;
        else if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') ++control;
    }
    return control * 100 < b.size() && high * 20 < b.size();
}

inline bool looksLikeExecutable(const std::vector<uint8_t>& b) {
    return b.size() >= 4 && b[0] == 0x7F && b[1] == 'E' && b[2] == 'L' && b[3] == 'F';
}

inline bool hasElfMagic(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
}

// Appends files from `folders` to `input` until `cap` bytes; returns the size.
// Sizes are checked before contents are read, so a folder whose budget is
// spent costs one stat per remaining file.
inline uint64_t gatherInput(BenchInput& input, const std::vector<SourceFolder>& folders, Accept accept,
                            uint64_t cap) {
    std::set<std::pair<uint64_t, uint32_t>> seen;
    std::vector<uint8_t> contents;
    input.bytes.reserve(cap);
    for (const SourceFolder& folder : folders) {
        uint64_t fromFolder = 0;
        for (const std::string& path : sortedFiles(folder.path, folder.recursive)) {
            const uint64_t room = std::min({folder.budget - fromFolder, cap - input.bytes.size(), kMaxFileBytes});
            if (room == 0) break;
            if (accept == Accept::Prose && !isProseName(path)) continue;
            if (!endsWith(path, ".gz")) {
                std::error_code ec;
                const uint64_t size = std::filesystem::file_size(path, ec);
                if (ec || size == 0 || size > room) continue;
            }
            if (accept == Accept::Executable && !hasElfMagic(path)) continue;
            if (!readContents(path, contents, room) || contents.empty()) continue;
            if (accept == Accept::Prose && !looksLikeProse(contents)) continue;
            if (accept == Accept::Executable && !looksLikeExecutable(contents)) continue;
            if (!seen.insert({contents.size(), crc32(contents.data(), contents.size())}).second) continue;
            input.bytes.insert(input.bytes.end(), contents.begin(), contents.end());
            input.files.push_back(path);
            fromFolder += contents.size();
        }
    }
    input.bytes.shrink_to_fit();
    return input.bytes.size();
}

// English documentation and prose: licences, package documentation, info
// manuals and English manual pages (the last two are gzip'd on Debian and
// are used only when zlib is built in).
inline BenchInput textInput() {
    BenchInput in{"text", {}, {}};
    const std::vector<SourceFolder> folders = {
        {"/usr/share/common-licenses", true, 1'000'000},
        {"/usr/share/doc", true, 14'000'000},
        {"/usr/share/info", false, 5'000'000},
        {"/usr/share/man/man1", false, 10'000'000},
        {"/usr/share/man/man2", false, 2'000'000},
        {"/usr/share/man/man3", false, 3'000'000},
        {"/usr/share/man/man5", false, 2'000'000},
        {"/usr/share/man/man7", false, 2'000'000},
        {"/usr/share/man/man8", false, 2'000'000},
    };
    gatherInput(in, folders, Accept::Prose, 24'000'000);
    return in;
}

// Executable code: programs and shared libraries (ELF files only).
inline BenchInput codeInput() {
    BenchInput in{"code", {}, {}};
    const std::vector<SourceFolder> folders = {
        {"/usr/bin", false, 12'000'000},
        {"/usr/sbin", false, 2'000'000},
        {"/usr/lib/x86_64-linux-gnu", false, 12'000'000},
        {"/usr/lib/aarch64-linux-gnu", false, 12'000'000},
        {"/usr/lib", true, 12'000'000},
    };
    gatherInput(in, folders, Accept::Executable, 24'000'000);
    return in;
}

// Every regular file under `dir`, sorted, whole (no filter, no budget).
inline BenchInput folderInput(const std::string& dir) {
    BenchInput in{dir, {}, {}};
    std::vector<uint8_t> contents;
    for (const std::string& path : sortedFiles(dir, true)) {
        if (!readFile(path, contents, UINT64_MAX)) {
            std::fprintf(stderr, "model_bench: cannot read \"%s\"\n", path.c_str());
            continue;
        }
        in.bytes.insert(in.bytes.end(), contents.begin(), contents.end());
        in.files.push_back(path);
    }
    return in;
}

inline BenchInput singleFileInput(const std::string& name, const std::string& path) {
    BenchInput in{name, {}, {path}};
    if (!readFile(path, in.bytes, UINT64_MAX)) in.files.clear();
    return in;
}

}  // namespace qexbench
