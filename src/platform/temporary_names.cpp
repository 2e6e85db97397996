// Temporary names (see temporary_names.h).
#include "platform/temporary_names.h"

#include "system/system_facts.h"

namespace qex {

namespace {

constexpr int kSuffixLength = 6;
constexpr std::string_view kSuffixLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// A 64-bit finalizer: every input bit reaches every output bit.
uint64_t mixed(uint64_t x) {
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9u;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

}  // namespace

std::string temporaryNameBeside(std::string_view finalPath, uint64_t entropy, size_t maxNameBytes) {
    const size_t folderEnd = finalPath.find_last_of(kFolderEnds);
    const size_t nameStart = folderEnd == std::string_view::npos ? 0 : folderEnd + 1;
    std::string_view finalName = finalPath.substr(nameStart);
    // What the dot, the dash and the suffix leave of the limit for NAME.
    constexpr size_t kAddedBytes = 2 + kSuffixLength;
    const size_t room = maxNameBytes > kAddedBytes ? maxNameBytes - kAddedBytes : 0;
    if (finalName.size() > room) {
        size_t cut = room;
        // Never inside a UTF-8 sequence: back to the byte that starts one.
        while (cut > 0 && (static_cast<unsigned char>(finalName[cut]) & 0xC0) == 0x80) --cut;
        finalName = finalName.substr(0, cut);
    }
    std::string name(finalPath.substr(0, nameStart));
    name.push_back('.');
    name.append(finalName);
    name.push_back('-');
    uint64_t seed = mixed(entropy);
    for (int k = 0; k < kSuffixLength; ++k) {
        name.push_back(kSuffixLetters[seed % kSuffixLetters.size()]);
        seed /= kSuffixLetters.size();
    }
    return name;
}

}  // namespace qex
