// What the switches do, through the executable: exclusion, lists of paths,
// quiet runs and the refusal to replace a file that is not an archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/archive_fixture.h"
#include "archive/archived_paths.h"
#include "platform/text_conversion.h"

namespace qex::test {
namespace {

class Switches : public ScratchFolderTest {
protected:
    // A project with version-control data, build output, keys at two depths
    // and sources.
    void makeProject() {
        folder("p/.git/objects");
        folder("p/build");
        folder("p/src/sub");
        file("p/.git/HEAD", "ref");
        file("p/.gitignore", "build/");
        file("p/build/x.o", "obj");
        file("p/secret.key", "k1");
        file("p/src/a.c", "int a;");
        file("p/src/sub/b.key", "k2");
        file("p/src/sub/d.c", "int d;");
    }

    // The archive's paths in order, a folder's ending with "/".
    std::vector<std::string> archived(const std::string& archive) {
        Directory directory;
        std::vector<std::string> paths;
        if (!readArchiveDirectory(at(archive), directory)) return paths;
        ArchivedPathWalker walker;
        for (size_t k = 0; k < directory.entries.size(); ++k) {
            std::string path = utf16ToNative(nextArchivedPath(walker, directory.entries[k], directory.names[k]));
            if (isFolder(directory.entries[k])) path.push_back('/');
            paths.push_back(path);
        }
        return paths;
    }
};

using Paths = std::vector<std::string>;

TEST_F(Switches, ExclusionLeavesOutNamesPathsFoldersAndVersionControl) {
    makeProject();
    file("patterns", "src/sub/*.c\r\n\n[bx].o\n");
    // By name at any depth, a folder by name (with all below it, uncounted),
    // by path below the source, from a file, and the version-control data.
    const auto r = runQex({"a", at("p.qex"), at("p"), "--exclude=*.key", "-x", "build/", "--exclude-vcs",
                           "--exclude-from=" + at("patterns")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(archived("p.qex"), (Paths{"p/", "p/src/", "p/src/a.c", "p/src/sub/"}));
    EXPECT_NE(r.out.find("d=3 f=1 "), std::string::npos) << r.out;
    // A path pattern is the same below a folder and below its contents, and
    // never matches by name alone; "/" at the end takes only folders.
    EXPECT_EQ(runQex({"a", at("c.qex"), at("p/"), "-x", "src/a.c", "-x", "/sub", "-x", "secret.key/"}).exitCode, 0);
    EXPECT_EQ(archived("c.qex"), (Paths{".git/", ".git/HEAD", ".git/objects/", ".gitignore", "build/", "build/x.o",
                                        "secret.key", "src/", "src/sub/", "src/sub/b.key", "src/sub/d.c"}));
    // A pattern file that cannot be read stops the add before anything is written.
    const auto missing = runQex({"a", at("m.qex"), at("p"), "--exclude-from", at("none")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err.rfind("qex: cannot read the exclusion patterns \"" + at("none") + "\": ", 0), 0u);
    EXPECT_FALSE(fs::exists(at("m.qex")));
}

TEST_F(Switches, ListedPathsKeepTheirFoldersMergedInOneTree) {
    makeProject();
    // find's "./" prefixes, a folder listed whole, a path inside it, repeated
    // folders, and paths with "..", missing or absolute.
    std::string list;
    for (const std::string& path : {std::string("./p/src/sub/d.c"), std::string("p/src/a.c"), std::string("p/build"),
                                    std::string("p/build/x.o"), std::string("../escape"), std::string("p/none"),
                                    at("p/secret.key")})
        list += path + '\0';
    const auto r = runQex({"a", "sel.qex", "-T", "-", "--null", "-x", "*.o"}, root, list);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const std::string rootBelow = root.substr(1) + "/";
    Paths expected{"p/", "p/build/", "p/src/", "p/src/a.c", "p/src/sub/", "p/src/sub/d.c"};
    const std::vector<std::string> got = archived("sel.qex");
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(Paths(got.begin(), got.begin() + 6), expected);
    EXPECT_EQ(got.back(), rootBelow + "p/secret.key");
    EXPECT_NE(r.err.find("qex: skipping listed path with a \"..\" component \"../escape\"\n"), std::string::npos);
    EXPECT_NE(r.err.find("qex: cannot find listed path \"" + at("p/none") + "\"\n"), std::string::npos);
    EXPECT_NE(r.err.find("qex: removing the leading \"/\" from listed paths\n"), std::string::npos);
    // One path a line, CR LF too; a list naming nothing is an error.
    file("list", "p/src/a.c\r\np/.gitignore\n");
    EXPECT_EQ(runQex({"a", "lines.qex", "--files-from=list"}, root).exitCode, 0);
    EXPECT_EQ(archived("lines.qex"), (Paths{"p/", "p/.gitignore", "p/src/", "p/src/a.c"}));
    const auto empty = runQex({"a", "none.qex", "-T", "-"}, root, "\n\n");
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_EQ(empty.err, "qex: the lists of paths name nothing to add\n");
}

TEST_F(Switches, QuietPrintsOnlyWhatACommandIsForAndKeepsExitCodes) {
    makeProject();
    auto r = runQex({"-q", "a", at("p.qex"), at("p")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(runQex({"t", at("p.qex"), "--quiet"}).out, "");
    folder("out");
    r = runQex({"-q", "x", at("p.qex"), at("out")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(readFileBytes(at("out/p/src/a.c")), "int a;");
    // The listing stays, without its total line.
    r = runQex({"-q", "l", at("p.qex")});
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 13);
    EXPECT_EQ(r.out.find("files,"), std::string::npos);
    // Warnings still reach standard error, with their exit code.
    r = runQex({"-q", "x", at("p.qex"), at("out"), "nothing*"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
}

TEST_F(Switches, AddReplacesAnArchiveButAnyOtherFileOnlyWithForce) {
    makeProject();
    file("precious.txt", "my notes");
    auto r = runQex({"a", at("precious.txt"), at("p/src/a.c")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "qex: \"" + at("precious.txt") + "\" exists and is not a qex archive; -f replaces it\n");
    EXPECT_EQ(readFileBytes(at("precious.txt")), "my notes");
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 2);  // p, precious.txt
    // An archive is replaced as ever; so is an empty file, which holds nothing.
    EXPECT_EQ(runQex({"a", "-f", at("precious.txt"), at("p/src/a.c")}).exitCode, 0);
    EXPECT_EQ(archived("precious.txt"), (Paths{"a.c"}));
    EXPECT_EQ(runQex({"a", at("precious.txt"), at("p/secret.key")}).exitCode, 0);
    EXPECT_EQ(archived("precious.txt"), (Paths{"secret.key"}));
    file("empty.qex");
    EXPECT_EQ(runQex({"a", at("empty.qex"), at("p/src/a.c")}).exitCode, 0);
}

}  // namespace
}  // namespace qex::test
