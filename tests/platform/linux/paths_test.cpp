// Lexical full paths and joining.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "platform/linux/lexical_paths.h"

namespace qex {
namespace {

TEST(ResolvePath, RelativePathIsJoinedToTheCurrentFolder) {
    EXPECT_EQ(resolvePath("/home/u", "src"), "/home/u/src");
    EXPECT_EQ(resolvePath("/home/u", "a/b/c.txt"), "/home/u/a/b/c.txt");
    EXPECT_EQ(resolvePath("/", "src"), "/src");
}

TEST(ResolvePath, AbsolutePathIgnoresTheCurrentFolder) {
    EXPECT_EQ(resolvePath("/home/u", "/etc/hosts"), "/etc/hosts");
}

TEST(ResolvePath, DotAndDotDotAndRepeatedSeparatorsAreResolved) {
    EXPECT_EQ(resolvePath("/home/u", "."), "/home/u");
    EXPECT_EQ(resolvePath("/home/u", ".."), "/home");
    EXPECT_EQ(resolvePath("/home/u", "./a//b/./../c"), "/home/u/a/c");
    EXPECT_EQ(resolvePath("/home/u", "//etc///x"), "/etc/x");
    // ".." at the root stays at the root, as the kernel treats it.
    EXPECT_EQ(resolvePath("/", "../../x"), "/x");
    EXPECT_EQ(resolvePath("/home/u", "../../.."), "/");
}

TEST(ResolvePath, TrailingSeparatorIsKeptAndSelectsTheContents) {
    EXPECT_EQ(resolvePath("/home/u", "src/"), "/home/u/src/");
    EXPECT_EQ(resolvePath("/home/u", "./"), "/home/u/");
    EXPECT_EQ(resolvePath("/home/u", "src//"), "/home/u/src/");
    EXPECT_EQ(resolvePath("/home", "u/../"), "/home/");
    // The root is one separator, with or without a trailing one.
    EXPECT_EQ(resolvePath("/home/u", "/"), "/");
    EXPECT_EQ(resolvePath("/home/u", "../../"), "/");
}

TEST(ResolvePath, WildcardsAndDotNamesAreOrdinaryComponents) {
    EXPECT_EQ(resolvePath("/w", "Com*n?"), "/w/Com*n?");
    EXPECT_EQ(resolvePath("/w", ".hidden/..x/..."), "/w/.hidden/..x/...");
}

TEST(FullPath, UsesTheProcessCurrentFolder) {
    char current[PATH_MAX];
    ASSERT_NE(getcwd(current, sizeof current), nullptr);
    SystemResult<std::string> full = fullPath("x/./y");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(full.value, resolvePath(current, "x/y"));
    full = fullPath(".");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(full.value, resolvePath(current, ""));
}

TEST(JoinPath, NeverDoublesASeparator) {
    EXPECT_EQ(joinPath("/", "a"), "/a");
    EXPECT_EQ(joinPath("/t", "a"), "/t/a");
    EXPECT_EQ(joinPath("/t/", "a"), "/t/a");
}

TEST(PathComponents, LastComponentAndWildcards) {
    EXPECT_EQ(lastComponentStart("/a/bc"), 3u);
    EXPECT_EQ(lastComponentStart("/a/"), 3u);
    EXPECT_EQ(lastComponentStart("name"), 0u);
    EXPECT_TRUE(hasWildcards("Com*n"));
    EXPECT_TRUE(hasWildcards("a?"));
    EXPECT_FALSE(hasWildcards("[ab]"));
}

}  // namespace
}  // namespace qex
