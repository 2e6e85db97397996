// Exclusion patterns (see exclusion.h).
#include "frontend/exclusion.h"

#include <algorithm>

namespace qex {
namespace {

// The names --exclude-vcs leaves out: the data and control files of the
// version-control systems in use.
constexpr std::u16string_view kVersionControlNames[] = {
    u".git",  u".gitignore", u".gitattributes", u".gitmodules", u".hg",  u".hgignore", u".hgtags",
    u".svn",  u".bzr",       u".bzrignore",     u".bzrtags",    u"_darcs", u"CVS",     u".cvsignore",
    u"RCS",   u"SCCS",       u".arch-ids",      u"{arch}",      u".pijul", u".fslckout", u"_FOSSIL_",
};

// One character of a UTF-16 text starting at `at` (a surrogate pair is one);
// `at` moves past it.
char32_t nextCharacter(std::u16string_view text, size_t& at) {
    const char32_t unit = text[at++];
    if (unit >= 0xD800 && unit < 0xDC00 && at < text.size() && text[at] >= 0xDC00 && text[at] < 0xE000)
        return 0x10000 + ((unit - 0xD800) << 10) + (text[at++] - 0xDC00);
    return unit;
}

std::u32string charactersOf(std::u16string_view text) {
    std::u32string out;
    for (size_t at = 0; at < text.size();) out.push_back(nextCharacter(text, at));
    return out;
}

// Whether the set starting at p[at] ("[" already passed) holds `c`; `at`
// moves past its "]". False with `at` unchanged when the set is not closed:
// the "[" is then an ordinary character.
bool setHolds(const std::u32string& p, size_t& at, char32_t c, bool& closed) {
    size_t i = at;
    const bool negated = i < p.size() && (p[i] == U'!' || p[i] == U'^');
    if (negated) ++i;
    bool found = false;
    bool first = true;
    for (; i < p.size() && (p[i] != U']' || first); first = false) {
        const char32_t low = p[i++];
        char32_t high = low;
        if (i + 1 < p.size() && p[i] == U'-' && p[i + 1] != U']') {
            high = p[i + 1];
            i += 2;
        }
        if (c >= low && c <= high) found = true;
    }
    closed = i < p.size();
    if (!closed) return false;
    at = i + 1;
    return found != negated;
}

// Matches one pattern token at p[pi] against c; `next` gets the index past
// the token. False on a mismatch.
bool tokenMatches(const std::u32string& p, size_t pi, char32_t c, size_t& next) {
    if (p[pi] == U'[') {
        size_t at = pi + 1;
        bool closed = false;
        const bool holds = setHolds(p, at, c, closed);
        if (closed) {
            next = at;
            return holds;
        }
    }
    next = pi + 1;
    return p[pi] == U'?' || p[pi] == c;
}

// One component: no "/" in either. Greedy with backtracking to the last "*".
bool componentMatches(const std::u32string& p, const std::u32string& n) {
    size_t pi = 0, ni = 0;
    size_t starAt = std::u32string::npos, starName = 0;
    while (ni < n.size()) {
        size_t next = 0;
        if (pi < p.size() && p[pi] != U'*' && tokenMatches(p, pi, n[ni], next)) {
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

std::vector<std::u32string> componentsOf(std::u16string_view text) {
    std::vector<std::u32string> parts(1);
    for (const char32_t c : charactersOf(text)) {
        if (c == U'/') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

}  // namespace

bool matchesExclusionPattern(std::u16string_view pattern, std::u16string_view text) {
    const std::vector<std::u32string> p = componentsOf(pattern);
    const std::vector<std::u32string> n = componentsOf(text);
    if (p.size() != n.size()) return false;
    for (size_t k = 0; k < p.size(); ++k)
        if (!componentMatches(p[k], n[k])) return false;
    return true;
}

void addExclusionPattern(Exclusions& exclusions, std::u16string_view pattern) {
    ExclusionPattern added;
    if (!pattern.empty() && pattern.back() == u'/') {
        added.foldersOnly = true;
        while (!pattern.empty() && pattern.back() == u'/') pattern.remove_suffix(1);
    }
    added.byPath = pattern.find(u'/') != std::u16string_view::npos;
    while (!pattern.empty() && pattern.front() == u'/') pattern.remove_prefix(1);
    if (pattern.empty()) return;
    added.text = pattern;
    exclusions.patterns.push_back(std::move(added));
}

void addExclusionLines(Exclusions& exclusions, std::u16string_view text) {
    while (!text.empty()) {
        const size_t end = std::min(text.find(u'\n'), text.size());
        std::u16string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
        addExclusionPattern(exclusions, line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

bool isExcluded(const Exclusions& exclusions, std::u16string_view name, std::u16string_view pathBelowSource,
                bool folder) {
    if (exclusions.versionControl)
        for (const std::u16string_view vcs : kVersionControlNames)
            if (name == vcs) return true;
    for (const ExclusionPattern& pattern : exclusions.patterns) {
        if (pattern.foldersOnly && !folder) continue;
        if (pattern.byPath ? !pathBelowSource.empty() && matchesExclusionPattern(pattern.text, pathBelowSource)
                           : matchesExclusionPattern(pattern.text, name))
            return true;
    }
    return false;
}

}  // namespace qex
