// Wildcard matching and the NTFS listing order (see listing.h): pure
// functions on UTF-16 names, the same on every system. Case is folded
// through the NTFS uppercase table (ntfs_upcase.cpp).
#include <algorithm>
#include <string>

#include "platform/listing.h"
#include "platform/star_match.h"

namespace qex {
namespace {

// A character of the pattern stands for one of the name: the same, or
// with case ignored the same through the uppercase table (characters
// beyond the basic plane have no case there).
bool sameCharacter(char32_t p, char32_t n, bool ignoreCase) {
    if (p == n) return true;
    return ignoreCase && p < 0x10000 && n < 0x10000 &&
           upcasedUnit(static_cast<char16_t>(p)) == upcasedUnit(static_cast<char16_t>(n));
}

}  // namespace

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

bool matchesWildcards(std::u16string_view pattern, std::u16string_view name, bool ignoreCase) {
    const std::u32string p = charactersOf(pattern);
    return matchesWithStars(p, charactersOf(name), [&](size_t pi, char32_t c, size_t& next) {
        next = pi + 1;
        return p[pi] == U'?' || sameCharacter(p[pi], c, ignoreCase);
    });
}

bool listedBefore(std::u16string_view a, std::u16string_view b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const char16_t fa = upcasedUnit(a[i]), fb = upcasedUnit(b[i]);
        if (fa != fb) return fa < fb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

}  // namespace qex
