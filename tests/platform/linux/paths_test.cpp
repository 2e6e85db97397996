// Lexical full paths and joining.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/linux/lexical_paths.h"

namespace qex {
namespace {

TEST(FullPath, JoinsToTheCurrentFolderTheProcessHasAndResolvesDotsAndSeparators) {
    const struct { const char* current; const char* path; const char* resolved; } cases[] = {
        {"/home/u", "src", "/home/u/src"}, {"/home/u", "a/b/c.txt", "/home/u/a/b/c.txt"}, {"/", "src", "/src"},
        {"/home/u", "/etc/hosts", "/etc/hosts"},  // absolute: the current folder is ignored
        {"/home/u", ".", "/home/u"}, {"/home/u", "..", "/home"}, {"/home/u", "./a//b/./../c", "/home/u/a/c"},
        {"/home/u", "//etc///x", "/etc/x"},
        // ".." at the root stays at the root, as the kernel treats it.
        {"/", "../../x", "/x"}, {"/home/u", "../../..", "/"},
        // A trailing separator is kept (it selects the contents); the root is
        // one separator, with or without a trailing one.
        {"/home/u", "src/", "/home/u/src/"}, {"/home/u", "./", "/home/u/"}, {"/home/u", "src//", "/home/u/src/"},
        {"/home", "u/../", "/home/"}, {"/home/u", "/", "/"}, {"/home/u", "../../", "/"},
        // Wildcards and dot names are ordinary components.
        {"/w", "Com*n?", "/w/Com*n?"}, {"/w", ".hidden/..x/...", "/w/.hidden/..x/..."},
    };
    for (const auto& c : cases) EXPECT_EQ(resolvePath(c.current, c.path), c.resolved) << c.current << " + " << c.path;
    // A full path starts from the process's current folder.
    char current[PATH_MAX];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    EXPECT_EQ(fullPath("x/./y").value, resolvePath(current, "x/y"));
    EXPECT_EQ(fullPath(".").value, resolvePath(current, ""));
}

TEST(PathComponents, JoinNeverDoublesASeparatorAndTheLastComponentAndWildcardsAreFound) {
    EXPECT_EQ(joinPath("/", "a"), "/a");
    EXPECT_EQ(joinPath("/t", "a"), "/t/a");
    EXPECT_EQ(joinPath("/t/", "a"), "/t/a");
    EXPECT_EQ(lastComponentStart("/a/bc"), 3u);
    EXPECT_EQ(lastComponentStart("/a/"), 3u);
    EXPECT_EQ(lastComponentStart("name"), 0u);
    EXPECT_TRUE(hasWildcards("Com*n"));
    EXPECT_TRUE(hasWildcards("a?"));
    EXPECT_FALSE(hasWildcards("[ab]"));
}

}  // namespace
}  // namespace qex
