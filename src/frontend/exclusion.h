// What add leaves out: the patterns of -x/--exclude and --exclude-from, and
// the version-control data of --exclude-vcs.
//
// A pattern without "/" matches an item's name, at any depth. A pattern
// with "/" matches the item's path below its source's folder, components
// joined by "/" (for `qex a x.qex ~/project` or `~/project/`, the item
// ~/project/build/cache is "build/cache"); a leading "/" is dropped. A
// trailing "/" restricts a pattern to folders. "*" matches any run of
// characters and "?" one character, neither crossing a "/"; "[...]" one
// character of a set ("a-z" ranges, "!" or "^" first negates). Matching is
// case-sensitive, on the names as UTF-16 characters. An excluded folder is
// left out with everything below it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qex {

struct ExclusionPattern {
    std::u16string text;  // without its leading and trailing "/"
    bool byPath = false;  // held a "/": matched against the path below the source
    bool foldersOnly = false;
};

struct Exclusions {
    std::vector<ExclusionPattern> patterns;
    bool versionControl = false;  // --exclude-vcs
};

// Adds one pattern as the command line or a pattern file gave it. An empty
// pattern (or "/" alone) matches nothing and is not added.
void addExclusionPattern(Exclusions& exclusions, std::u16string_view pattern);

// Adds every line of a pattern file's text: lines end with LF (a CR before
// it is dropped); empty lines are skipped.
void addExclusionLines(Exclusions& exclusions, std::u16string_view text);

// True when the item named `name`, at `pathBelowSource` ("" for the source
// itself), is left out.
bool isExcluded(const Exclusions& exclusions, std::u16string_view name, std::u16string_view pathBelowSource,
                bool folder);

// Whether `pattern` matches all of `text`: "*", "?" and "[...]" as above,
// a "/" only by a "/".
bool matchesExclusionPattern(std::u16string_view pattern, std::u16string_view text);

}  // namespace qex
