// The listing's type and permission column; see item_type_text.h.
#include "frontend/item_type_text.h"

#include "archive/archive_layout.h"
#include "platform/unix_mode.h"

namespace qex {
namespace {

constexpr uint32_t kSetUserId = 04000;
constexpr uint32_t kSetGroupId = 02000;
constexpr uint32_t kSticky = 01000;

// One rwx triple; `special` turns the x place into s/S (or t/T).
void appendTriple(std::string& text, uint32_t bits, bool special, char specialLetter) {
    text.push_back(bits & 4 ? 'r' : '-');
    text.push_back(bits & 2 ? 'w' : '-');
    const bool run = (bits & 1) != 0;
    if (special) {
        text.push_back(run ? specialLetter : static_cast<char>(specialLetter - 'a' + 'A'));
    } else {
        text.push_back(run ? 'x' : '-');
    }
}

}  // namespace

std::string itemTypeText(uint16_t attributes, uint64_t creationTime) {
    const bool folder = (attributes & kAttributeDirectory) != 0;
    std::string text;
    if (carriesUnixMode(attributes)) {
        const uint16_t mode = storedUnixMode(creationTime);
        const char type = folder                                     ? 'd'
                          : isSymbolicLinkMode(mode)                ? 'l'
                          : isHardLinkMode(mode)                    ? 'h'
                          : (mode & kModeTypeBits) == kModeFifo     ? 'p'
                                                                    : '-';
        text.push_back(type);
        appendTriple(text, mode >> 6 & 7, (mode & kSetUserId) != 0, 's');
        appendTriple(text, mode >> 3 & 7, (mode & kSetGroupId) != 0, 's');
        appendTriple(text, mode & 7, (mode & kSticky) != 0, 't');
        return text;
    }
    static constexpr struct {
        uint16_t bit;
        char letter;
    } kLetters[] = {{0x01, 'R'}, {0x02, 'H'}, {0x04, 'S'}, {0x20, 'A'}};
    text.push_back(folder ? 'd' : '-');
    for (const auto& letter : kLetters) text.push_back((attributes & letter.bit) != 0 ? letter.letter : '.');
    text.resize(10, ' ');
    return text;
}

}  // namespace qex
