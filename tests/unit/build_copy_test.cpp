#include "generator/build_copy.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define TSR_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TSR_TEST_ASAN 1
#endif
#endif

namespace tsr {
namespace {

using Names = std::vector<std::string>;
// Relative path -> content; a directory appears as "dir/" with an empty content.
using Tree = std::map<std::string, std::string>;


// Creates `root` (one level, when missing) and the entries of `tree` below it, parents first.
void MakeTree(const std::string& root, const Tree& tree) {
    mkdir(root.c_str(), 0755);
    for (const auto& [relative, content] : tree) {
        for (size_t slash = relative.find('/'); slash != std::string::npos;
             slash = relative.find('/', slash + 1)) {
            mkdir(JoinPath(root, relative.substr(0, slash)).c_str(), 0755);
        }
        if (relative.back() != '/') {
            ASSERT_TRUE(WriteFile(JoinPath(root, relative), content)) << relative;
        }
    }
}

// Everything below `root` (links followed for content), in the form MakeTree takes.
void ReadTree(const std::string& root, const std::string& prefix, Tree& out) {
    for (const std::string& name : ListDirectory(JoinPath(root, prefix))) {
        const std::string relative = prefix + name;
        struct stat st;
        if (lstat(JoinPath(root, relative).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out[relative + "/"] = "";
            ReadTree(root, relative + "/", out);
        } else {
            out[relative] = test::ReadAll(JoinPath(root, relative));
        }
    }
}

Tree ReadTree(const std::string& root) {
    Tree out;
    ReadTree(root, "", out);
    return out;
}

// Runs `body` in a child process and returns its exit status; with `unprivileged`, a child
// running as root first drops to the user nobody, so that permission bits hold for it.
int RunInChild(const std::function<int()>& body, bool unprivileged = false) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

// ---- 8.3 names ----------------------------------------------------------------------------

TEST(BuildCopyNames, ValidIn83Form) {
    struct Case {
        const char* name;
        bool valid;
    } cases[] = {
        {"INDEX.HTM", true},   {"index.htm", true},    {"Logo.Png", true},
        {"README", true},      {"A", true},            {"ABCDEFGH.IJK", true},
        {"A-B~1.JS", true},    {"!#$%&'().@^_", true}, {"`{}~.X", true},
        {"ABCDEFGHI", false},  {"A.BCDE", false},      {"A.B.C", false},
        {".HTM", false},       {"A.", false},          {"", false},
        {"MY FILE.TXT", false}, {"A+B.JS", false},     {"A,B", false},
        {"A[1].JS", false},    {"caf\xc3\xa9.js", false}, {"a=b", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValid83Name(c.name), c.valid) << c.name;
}

TEST(BuildCopyNames, ShortNamesOfOneDirectory) {
    struct Case {
        const char* name;
        Names input;  // one directory's names, in listing order
        Names expected;
    } cases[] = {
        {"valid 8.3 names keep their name and case",
         {"index.htm", "Logo.Png", "README", "A~1.JS"},
         {"index.htm", "Logo.Png", "README", "A~1.JS"}},
        {"long base", {"startup-image.png"}, {"STARTU~1.PNG"}},
        {"lower case goes upper", {"manifest.appcache"}, {"MANIFE~1.APP"}},
        {"collisions count up in listing order",
         {"jquery-1.10.2.min.js", "jquery.knob.js", "jquery.mobile-1.3.2.min.css",
          "jquery.mobile-1.3.2.min.js"},
         {"JQUERY~1.JS", "JQUERY~2.JS", "JQUERY~1.CSS", "JQUERY~3.JS"}},
        {"spaces and dots removed",
         {"my file.txt", "a.b.c", "two words", "x. y.js"},
         {"MYFILE~1.TXT", "AB~1.C", "TWOWOR~1", "XY~1.JS"}},
        {"extension truncated", {"page.jpeg", "x.json"}, {"PAGE~1.JPE", "X~1.JSO"}},
        {"invalid characters removed",
         {"a+b.js", "c++.h", "caf\xc3\xa9.png", "l[1];=,.txt"},
         {"AB~1.JS", "C~1.H", "CAF~1.PNG", "L1~1.TXT"}},
        {"leading dot is no extension", {".htaccess"}, {"HTACCE~1"}},
        {"nothing significant left", {"+++.js", "+"}, {"~1.JS", "~1"}},
        {"extension of invalid characters only", {"archive.+"}, {"ARCHIV~1"}},
        {"valid names are reserved before aliases",
         {"jquery.mobile.js", "JQUERY~1.JS", "longfilename.js", "longfi~1.js"},
         {"JQUERY~2.JS", "JQUERY~1.JS", "LONGFI~2.JS", "longfi~1.js"}},
        {".html loses its last character",
         {"index.html", "my page.html", ".html", "a.html.txt"},
         {"index.htm", "my page.htm", ".htm", "AHTML~1.TXT"}},
        {"upper-case .HTML is aliased", {"INDEX.HTML"}, {"INDEX~1.HTM"}},
        {"base shrinks from ~10 on",
         {"document-0.txt", "document-1.txt", "document-2.txt", "document-3.txt", "document-4.txt",
          "document-5.txt", "document-6.txt", "document-7.txt", "document-8.txt", "document-9.txt",
          "document-10.txt"},
         {"DOCUME~1.TXT", "DOCUME~2.TXT", "DOCUME~3.TXT", "DOCUME~4.TXT", "DOCUME~5.TXT",
          "DOCUME~6.TXT", "DOCUME~7.TXT", "DOCUME~8.TXT", "DOCUME~9.TXT", "DOCUM~10.TXT",
          "DOCUM~11.TXT"}},
    };
    for (const Case& c : cases) {
        const Names got = ShortNames83(c.input);
        EXPECT_EQ(got, c.expected) << c.name;
        std::set<std::string> seen;
        for (size_t i = 0; i < got.size(); ++i) {
            std::string upper = got[i];
            for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
            EXPECT_TRUE(seen.insert(upper).second) << c.name << ": " << got[i] << " twice";
            if (got[i] != c.input[i] && !c.input[i].ends_with(".html")) {
                EXPECT_TRUE(IsValid83Name(got[i])) << c.name << ": " << got[i];
            }
        }
    }
}

TEST(BuildCopyNames, MapToShortNameTakesTheFirstMatchWithoutRegardToCase) {
    BuildFileLists lists;
    lists.longNames = {"index.html", "Script-File.js", "script-file.JS", "a.js"};
    lists.shortNames = {"index.htm", "SCRIPT~1.JS", "SCRIPT~9.JS", "a.js"};
    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {
        {"index.html", "index.htm"},       {"INDEX.HTML", "index.htm"},
        {"script-file.JS", "SCRIPT~1.JS"}, {"SCRIPT-FILE.JS", "SCRIPT~1.JS"},
        {"a.js", "a.js"},                  {"not-listed.js", "not-listed.js"},
        {"index.htm", "index.htm"},
    };
    for (const Case& c : cases) EXPECT_EQ(MapToShortName(lists, c.name), c.expected) << c.name;
}

TEST(BuildCopyNames, ReplaceLongNamesReplacesEachFirstOccurrence) {
    BuildFileLists lists;
    lists.longNames = {"index.html", "alpha-long.txt", "A~1.TXT", "same.js", "grow+.c"};
    lists.shortNames = {"index.htm", "A~1.TXT", "B.T", "SAME.JS", "GROW~1.C"};
    struct Case {
        const char* name;
        std::string content;
        std::string expected;
    } cases[] = {
        {"first only", "index.html index.html", "index.htm index.html"},
        {"at the start", "index.html!", "index.htm!"},
        {"at the end", "see index.html", "see index.htm"},
        {"whole content", "index.html", "index.htm"},
        {"other case untouched", "INDEX.HTML Index.html", "INDEX.HTML Index.html"},
        {"cut short", "index.htm", "index.htm"},
        {"later index sees an earlier replacement", "alpha-long.txt", "B.T"},
        {"same length is left alone", "same.js", "same.js"},
        {"a longer short name grows the content", "x grow+.c y", "x GROW~1.C y"},
        {"binary content", std::string("\0index.html\0", 12), std::string("\0index.htm\0", 11)},
        {"empty", "", ""},
    };
    for (const Case& c : cases) {
        std::string content = c.content;
        ASSERT_TRUE(ReplaceLongNames(content, lists)) << c.name;
        EXPECT_EQ(content, c.expected) << c.name;
    }
}

// ---- lists --------------------------------------------------------------------------------

TEST(BuildCopyLists, FilesDepthFirstInNameOrderSkippingDotDirectories) {
    test::ScratchDir dir;
    MakeTree(dir.path(), {{".config", "c"},
                          {".git/HEAD", "h"},
                          {"b.js", "b"},
                          {"css/site.css", "s"},
                          {"css/jquery.mobile-1.3.2.min.css", "j"},
                          {"empty/", ""},
                          {"index.html", "i"},
                          {"z-last-file.txt", "z"}});
    const std::string root = dir.path();
    const Names longPaths = {root + "/.config", root + "/b.js",
                             root + "/css/jquery.mobile-1.3.2.min.css", root + "/css/site.css",
                             root + "/index.html", root + "/z-last-file.txt"};
    const Names longNames = {".config",  "b.js",       "jquery.mobile-1.3.2.min.css",
                             "site.css", "index.html", "z-last-file.txt"};
    const Names shortNames = {"CONFIG~1", "b.js",      "JQUERY~1.CSS",
                              "site.css", "index.htm", "Z-LAST~1.TXT"};
    const Names shortPaths = {root + "/CONFIG~1",  root + "/b.js",      root + "/css/JQUERY~1.CSS",
                              root + "/css/site.css", root + "/index.htm", root + "/Z-LAST~1.TXT"};

    BuildFileLists off = ListBuildFiles(root, false);
    EXPECT_EQ(off.longPaths, longPaths);
    EXPECT_EQ(off.longNames, longNames);
    EXPECT_EQ(off.shortPaths, longPaths);
    EXPECT_EQ(off.shortNames, longNames);

    BuildFileLists on = ListBuildFiles(root, true);
    EXPECT_EQ(on.longPaths, longPaths);
    EXPECT_EQ(on.longNames, longNames);
    EXPECT_EQ(on.shortPaths, shortPaths);
    EXPECT_EQ(on.shortNames, shortNames);
}

TEST(BuildCopyLists, AMissingDirectoryListsNothing) {
    test::ScratchDir dir;
    BuildFileLists lists = ListBuildFiles(dir / "missing", true);
    EXPECT_TRUE(lists.longPaths.empty());
    EXPECT_TRUE(lists.shortNames.empty());
}

// ---- copying ------------------------------------------------------------------------------

class BuildCopyTest : public ::testing::Test {
protected:
    std::string out() { return scratch / "WEB"; }
    std::string target() { return scratch / "target"; }
    void SetUp() override { ASSERT_EQ(mkdir(out().c_str(), 0755), 0); }

    int Copy(bool use83) { return CopyBuild(out(), target(), use83, &failed); }

    test::ScratchDir scratch;
    std::string failed = "not cleared";
};

TEST_F(BuildCopyTest, WithoutTheOptionTheCopyIsExact) {
    MakeTree(out(), {{"index.html", "<a href=\"index.html\">index.html</a>"},
                     {"jquery.mobile-1.3.2.min.js", "var a = 'jquery.mobile-1.3.2.min.js';"},
                     {"empty.txt", ""},
                     {"binary.bin", std::string("\0\x01\xff\r\n\0", 6)},
                     {"images/startup-image.png", "PNG index.html"},
                     {"images/icons/a.png", "A"},
                     {"no-files/", ""}});
    MakeTree(target(), {{"empty.txt", "old content to be replaced"}, {"extra.txt", "kept"}});
    ASSERT_EQ(Copy(false), kBuildCopyOk);
    EXPECT_EQ(failed, "");
    Tree expected = ReadTree(out());
    expected["extra.txt"] = "kept";
    EXPECT_EQ(ReadTree(target()), expected);
}

TEST_F(BuildCopyTest, WithTheOptionNamesAndFirstReferencesAreShortened) {
    MakeTree(out(),
             {{"index.html",
               "<script src=\"jquery.mobile-1.3.2.min.js\"></script><a href=\"index.html\">x</a>"
               " index.html jquery.mobile-1.3.2.min.js"},
              {"jquery.mobile-1.3.2.min.js",
               "/* jquery.mobile-1.3.2.min.js */ go('index.html'); go('index.html');"},
              {"logo.png", std::string("\x89PNG\0index.html\0index.html", 26)}});
    ASSERT_EQ(Copy(true), kBuildCopyOk);
    const Tree expected = {
        {"index.htm",
         "<script src=\"JQUERY~1.JS\"></script><a href=\"index.htm\">x</a>"
         " index.html jquery.mobile-1.3.2.min.js"},
        {"JQUERY~1.JS", "/* JQUERY~1.JS */ go('index.htm'); go('index.html');"},
        {"logo.png", std::string("\x89PNG\0index.htm\0index.html", 25)},
    };
    EXPECT_EQ(ReadTree(target()), expected);
}

TEST(BuildCopyContent, NamesAtTheEdgesOfAFileAndLetterCaseInsideIt) {
    struct Case {
        const char* name;
        std::string content;
        std::string expected;
    } cases[] = {
        {"at the very start", "longfilename.js is loaded", "LONGFI~1.JS is loaded"},
        {"at the very end", "load longfilename.js", "load LONGFI~1.JS"},
        {"the whole file", "longfilename.js", "LONGFI~1.JS"},
        {"only the first of two", "longfilename.js+longfilename.js", "LONGFI~1.JS+longfilename.js"},
        {"other letter case", "LongFileName.js LONGFILENAME.JS", "LongFileName.js LONGFILENAME.JS"},
        {"other case before the exact one", "LONGFILENAME.JS longfilename.js",
         "LONGFILENAME.JS LONGFI~1.JS"},
        {"cut short at the end", "longfilename.j", "longfilename.j"},
        {"empty file", "", ""},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        MakeTree(dir.path(), {{"WEB/longfilename.js", "var x;"}, {"WEB/notes.txt", c.content}});
        std::string failedFile;
        ASSERT_EQ(CopyBuild(dir / "WEB", dir / "copy", true, &failedFile), kBuildCopyOk) << c.name;
        const Tree expected = {{"LONGFI~1.JS", "var x;"}, {"notes.txt", c.expected}};
        EXPECT_EQ(ReadTree(dir / "copy"), expected) << c.name;
    }
}

TEST_F(BuildCopyTest, FileNamesMatchWithoutRegardToCase) {
    // "longfi~1.js" is valid 8.3 and reserved, so the top-level long name becomes ~2, while the
    // one in lib/ would be ~1 on its own; the copy uses the first case-insensitive match.
    MakeTree(out(), {{"LongFileName.js", "top"}, {"lib/longfilename.JS", "lib"},
                     {"longfi~1.js", "kept"}});
    const BuildFileLists lists = ListBuildFiles(out(), true);
    ASSERT_EQ(lists.shortNames, (Names{"LONGFI~2.JS", "LONGFI~1.JS", "longfi~1.js"}));
    ASSERT_EQ(Copy(true), kBuildCopyOk);
    const Tree expected = {{"LONGFI~2.JS", "top"}, {"lib/", ""}, {"lib/LONGFI~2.JS", "lib"},
                           {"longfi~1.js", "kept"}};
    EXPECT_EQ(ReadTree(target()), expected);
}

TEST_F(BuildCopyTest, SameNamedFilesInTwoDirectoriesGetTheFirstListedShortName) {
    MakeTree(out(), {{"first-directory/jquery-extra.js", "extra"},
                     {"first-directory/jquery.mobile-1.3.2.min.js", "first"},
                     {"second-directory/jquery.mobile-1.3.2.min.js", "second"}});
    const BuildFileLists lists = ListBuildFiles(out(), true);
    ASSERT_EQ(lists.shortNames, (Names{"JQUERY~1.JS", "JQUERY~2.JS", "JQUERY~1.JS"}));
    ASSERT_EQ(Copy(true), kBuildCopyOk);
    const Tree expected = {{"first-directory/", ""},
                           {"first-directory/JQUERY~1.JS", "extra"},
                           {"first-directory/JQUERY~2.JS", "first"},
                           {"second-directory/", ""},
                           {"second-directory/JQUERY~2.JS", "second"}};
    EXPECT_EQ(ReadTree(target()), expected);
}

TEST_F(BuildCopyTest, ATargetThatCannotBeCreatedCopiesNothing) {
    MakeTree(out(), {{"a.txt", "A"}, {"css/site.css", "S"}});
    struct Case {
        const char* name;
        Tree existing;          // made below the scratch directory first
        std::string target;     // relative to the scratch directory
        std::string failedPath; // relative to the scratch directory
        Tree after;             // what is then below the scratch directory's "target"
    } cases[] = {
        {"parent missing", {}, "missing/target", "missing/target", {}},
        {"a file in the way", {{"file", "F"}}, "file", "file", {}},
        {"a file where a sub-directory goes", {{"target/css", "F"}}, "target", "target/css",
         {{"a.txt", "A"}, {"css", "F"}}},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        MakeTree(dir.path(), c.existing);
        std::string failedFile;
        EXPECT_EQ(CopyBuild(out(), dir / c.target, false, &failedFile), kBuildCopyTargetDirectory)
            << c.name;
        EXPECT_EQ(failedFile, dir / c.failedPath) << c.name;
        EXPECT_FALSE(test::Exists(dir / "missing")) << c.name;
        Tree after = ReadTree(dir / "target");
        EXPECT_EQ(after, c.after) << c.name;
    }
}

TEST_F(BuildCopyTest, ASourceFileThatCannotBeOpenedStopsTheCopy) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;  // makes the bad entry at the path
    } cases[] = {
        {"dangling link",
         [](const std::string& p) { ASSERT_EQ(symlink("/nonexistent/tessora", p.c_str()), 0); }},
        {"named pipe", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0644), 0); }},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        MakeTree(dir.path(), {{"WEB/a.txt", "A"}, {"WEB/z.txt", "Z"}});
        c.make(dir / "WEB/m-bad");
        std::string failedFile;
        EXPECT_EQ(CopyBuild(dir / "WEB", dir / "copy", false, &failedFile),
                  kBuildCopySourceUnreadable)
            << c.name;
        EXPECT_EQ(failedFile, dir / "WEB/m-bad") << c.name;
        // The file listed before stays copied; nothing after, and no temporary file, is there.
        EXPECT_EQ(ReadTree(dir / "copy"), (Tree{{"a.txt", "A"}})) << c.name;
    }
}

TEST(BuildCopyPermissions, UnreadableFilesAndDirectoriesGiveMinus2) {
    struct Case {
        const char* name;
        const char* bad;  // made unreadable, relative to the output directory
        Tree copied;      // what the target then holds
    } cases[] = {
        {"file", "m-secret", {{"a.txt", "A"}, {"m-dir/", ""}, {"m-dir/in.txt", "I"}}},
        {"sub-directory", "m-dir", {}},
    };
    for (const Case& c : cases) {
        test::ScratchDir dir;
        chmod(dir.path().c_str(), 0777);
        MakeTree(dir.path(), {{"WEB/a.txt", "A"}, {"WEB/m-dir/in.txt", "I"},
                              {"WEB/m-secret", "S"}, {"WEB/z.txt", "Z"}});
        chmod(JoinPath(dir / "WEB", c.bad).c_str(), 0);
        const std::string expectedPath = JoinPath(dir / "WEB", c.bad);
        int rc = RunInChild(
            [&] {
                std::string failedFile;
                if (CopyBuild(dir / "WEB", dir / "copy", false, &failedFile) !=
                    kBuildCopySourceUnreadable)
                    return 1;
                return failedFile == expectedPath ? 0 : 2;
            },
            true);
        EXPECT_EQ(rc, 0) << c.name;
        EXPECT_EQ(ReadTree(dir / "copy"), c.copied) << c.name;
        chmod(JoinPath(dir / "WEB", c.bad).c_str(), 0700);
    }
}

TEST_F(BuildCopyTest, ATargetFileThatCannotBeWrittenGivesMinus3) {
    MakeTree(out(), {{"a.txt", "A"}, {"b.txt", "B"}, {"c.txt", "C"}});
    MakeTree(target(), {{"b.txt/", ""}});  // a directory where the file goes
    EXPECT_EQ(Copy(false), kBuildCopyTargetUnwritable);
    EXPECT_EQ(failed, target() + "/b.txt");
    EXPECT_EQ(ReadTree(target()), (Tree{{"a.txt", "A"}, {"b.txt/", ""}}));
}

TEST_F(BuildCopyTest, AShortWriteRemovesThePartialFile) {
    MakeTree(out(), {{"a.txt", "small"}, {"big.bin", std::string(4096, 'x')}, {"z.txt", "Z"}});
    MakeTree(target(), {{"big.bin", "previous"}});
    int rc = RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1024, 1024};  // files may not grow beyond 1 KiB
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
        std::string failedFile;
        if (CopyBuild(out(), target(), false, &failedFile) != kBuildCopyIncomplete) return 1;
        return failedFile == target() + "/big.bin" ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    // The previous file is untouched, and no partial or temporary file is left.
    EXPECT_EQ(ReadTree(target()), (Tree{{"a.txt", "small"}, {"big.bin", "previous"}}));
}

TEST_F(BuildCopyTest, ContentThatDoesNotFitInMemoryGivesMinus4) {
#ifdef TSR_TEST_ASAN
    GTEST_SKIP() << "an address-space limit does not work with AddressSanitizer";
#endif
    MakeTree(out(), {{"a.txt", "A"}});
    const std::string huge = out() + "/huge.bin";
    {
        int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{1} << 33), 0);  // 8 GiB, sparse
        close(fd);
    }
    int rc = RunInChild([&] {
        long pages = 0;
        FILE* statm = fopen("/proc/self/statm", "r");
        if (!statm || fscanf(statm, "%ld", &pages) != 1) return 10;
        fclose(statm);
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        struct rlimit limit = {now + (rlim_t{256} << 20), now + (rlim_t{256} << 20)};
        if (setrlimit(RLIMIT_AS, &limit) != 0) return 11;
        std::string failedFile;
        if (CopyBuild(out(), target(), false, &failedFile) != kBuildCopyNoMemory) return 1;
        return failedFile == huge ? 0 : 2;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ReadTree(target()), (Tree{{"a.txt", "A"}}));
}

TEST_F(BuildCopyTest, ATargetInsideTheOutputDirectoryIsNotCopiedIntoItself) {
    MakeTree(out(), {{"a.txt", "A"}, {"sub/b.txt", "B"}});
    const std::string inside = out() + "/copy";
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(CopyBuild(out(), inside, false, &failed), kBuildCopyOk) << run;
        EXPECT_EQ(ReadTree(inside), (Tree{{"a.txt", "A"}, {"sub/", ""}, {"sub/b.txt", "B"}}))
            << run;
    }
}

TEST_F(BuildCopyTest, LinksToDirectoriesAreFollowedButNotAroundALoop) {
    test::ScratchDir outside;
    MakeTree(outside.path(), {{"f.txt", "F"}});
    MakeTree(out(), {{"a.txt", "A"}, {"sub/b.txt", "B"}});
    ASSERT_EQ(symlink(outside.path().c_str(), (out() + "/ext").c_str()), 0);
    ASSERT_EQ(symlink(out().c_str(), (out() + "/sub/loop").c_str()), 0);
    ASSERT_EQ(Copy(false), kBuildCopyOk);
    const Tree expected = {{"a.txt", "A"}, {"ext/", ""}, {"ext/f.txt", "F"},
                           {"sub/", ""},   {"sub/b.txt", "B"}};
    EXPECT_EQ(ReadTree(target()), expected);
}

}  // namespace
}  // namespace tsr
