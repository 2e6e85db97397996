// Exclusion patterns (see exclusion.h).
#include "frontend/exclusion.h"

#include <algorithm>

#include "platform/star_match.h"

namespace qex {
namespace {

// The names --exclude-vcs leaves out: the data and control files of the
// version-control systems in use.
constexpr std::u16string_view kVersionControlNames[] = {
    u".git",  u".gitignore", u".gitattributes", u".gitmodules", u".hg",  u".hgignore", u".hgtags",
    u".svn",  u".bzr",       u".bzrignore",     u".bzrtags",    u"_darcs", u"CVS",     u".cvsignore",
    u"RCS",   u"SCCS",       u".arch-ids",      u"{arch}",      u".pijul", u".fslckout", u"_FOSSIL_",
};

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

// One component: no "/" in either.
bool componentMatches(const std::u32string& p, const std::u32string& n) {
    return matchesWithStars(p, n, [&](size_t pi, char32_t c, size_t& next) { return tokenMatches(p, pi, c, next); });
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
