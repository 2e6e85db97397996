// Matching a pattern holding "*" against a name, both taken as characters
// (code points, a surrogate pair being one): the walk that the item mask
// (listing.h) and the exclusion patterns share. What one token of the
// pattern other than "*" matches is the caller's: "?" and a character for
// the mask, also "[...]" sets for exclusion.
//
// Greedy, with backtracking to the last "*": linear in practice and never
// worse than |pattern| * |name| token tests.
#pragma once

#include <string>
#include <string_view>

namespace qex {

// The characters of a UTF-16 text: a surrogate pair is one, a lone
// surrogate stands for itself.
std::u32string charactersOf(std::u16string_view text);

// `tokenMatches(pi, c, next)`: whether the token at p[pi] (never "*")
// matches the character c; on a match `next` is the index past the token.
template <typename TokenMatches>
bool matchesWithStars(const std::u32string& p, const std::u32string& n, TokenMatches tokenMatches) {
    size_t pi = 0, ni = 0;
    size_t starAt = std::u32string::npos, starName = 0;
    while (ni < n.size()) {
        size_t next = 0;
        if (pi < p.size() && p[pi] != U'*' && tokenMatches(pi, n[ni], next)) {
            pi = next;
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

}  // namespace qex
