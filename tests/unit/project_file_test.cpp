#include "model/project_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "base/strings.h"
#include "model/catalogue.h"
#include "model/document_text.h"
#include "test_support.h"

namespace tsr {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// Writes a zip archive holding `entries` (name, content) at `path`.
void MakeZip(const std::string& path, const Entries& entries) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, content] : entries) {
        zip_source_t* src = zip_source_buffer(za, content.data(), content.size(), 0);
        ASSERT_GE(zip_file_add(za, name.c_str(), src, 0), 0) << name;
    }
    ASSERT_EQ(zip_close(za), 0);
}


class ProjectFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(project.Start(tmp.path()), 0); }
    const std::string& work() { return project.workingDirectory().path(); }
    std::string DocumentText() { return WriteDocumentText(project.document().xml()); }

    test::ScratchDir tmp;   // holds the working directories
    test::ScratchDir files; // holds the project files
    Project project;
};

TEST_F(ProjectFileTest, SaveArchivesTheDocumentAndResources) {
    ASSERT_TRUE(WriteFile(work() + "/logo.png", "PNG"));
    ASSERT_EQ(mkdir((work() + "/img").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(work() + "/img/a.png", "A"));
    ASSERT_TRUE(WriteFile(project.workingDirectory().outputDirectory() + "/index.html", "x"));
    const std::string path = files / "p.tsr";
    ASSERT_TRUE(project.Save(path));
    EXPECT_EQ(project.currentPath(), path);
    EXPECT_FALSE(project.document().ProjectChanged());
    auto entries = test::ReadZip(path);
    EXPECT_EQ(entries.size(), 4u);  // the output directory is not archived
    EXPECT_EQ(entries["tsr.tsr"], DocumentText());
    EXPECT_EQ(entries["logo.png"], "PNG");
    EXPECT_EQ(entries["img/a.png"], "A");
    EXPECT_EQ(entries.count("img/"), 1u);
}

TEST_F(ProjectFileTest, OpenAndSaveAgainReproducesTheSameBytes) {
    const std::string path = files / "p.tsr";
    ASSERT_TRUE(WriteFile(work() + "/data.sql", "db"));
    ASSERT_TRUE(project.Save(path));
    const std::string first = test::ReadAll(path);

    test::ScratchDir otherTmp;
    Project other;
    ASSERT_EQ(other.Start(otherTmp.path()), 0);
    ASSERT_TRUE(other.Load(path));
    EXPECT_EQ(WriteDocumentText(other.document().xml()), DocumentText());
    EXPECT_EQ(test::ReadAll(other.workingDirectory().path() + "/data.sql"), "db");
    sleep(2);  // archive times have a two-second resolution
    ASSERT_TRUE(other.Save(path));
    EXPECT_EQ(test::ReadAll(path), first);
}

TEST_F(ProjectFileTest, AProjectWithModbusTypesSavesAndOpensUnchanged) {
    ProjectDocument& doc = project.document();
    pugi::xml_node gateway, page, slider, link;
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("modbusgateway"), doc.ProjectElement(), &gateway), 0);
    doc.SetProperty(gateway, "ip", "192.168.0.20:1502");
    doc.SetProperty(gateway, "unit", "7");
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("page"), doc.ProjectElement(), &page), 0);
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("slider"), page, &slider), 0);
    ASSERT_EQ(doc.CreateObject(FindTypeByKey("modbuslink"), slider, &link), 0);
    doc.SetProperty(link, "variable", "hr4:f32le");
    EXPECT_EQ(GetProperty(gateway, "id"), "mb1");
    EXPECT_EQ(GetProperty(link, "gatewayid"), "mb1");
    EXPECT_EQ(GetProperty(link, "refreshperiod"), "500");
    const std::string path = files / "modbus.tsr";
    ASSERT_TRUE(project.Save(path));

    test::ScratchDir otherTmp;
    Project other;
    ASSERT_EQ(other.Start(otherTmp.path()), 0);
    ASSERT_TRUE(other.Load(path));
    EXPECT_EQ(WriteDocumentText(other.document().xml()), DocumentText());
    EXPECT_NE(DocumentText().find("<modbuslink variable=\"hr4:f32le\""), std::string::npos);
    EXPECT_NE(DocumentText().find("unit=\"7\""), std::string::npos);
}

TEST_F(ProjectFileTest, LoadingAnArchiveReplacesTheProjectAndClearsTheChangedFlag) {
    ProjectDocument source;
    source.NewProjectDocument();
    pugi::xml_node knob;
    source.CreateObject(kTypeKnob, source.ProjectElement().first_child(), &knob);
    const std::string path = files / "k.tsr";
    MakeZip(path, {{"tsr.tsr", WriteDocumentText(source.xml())}, {"res/r.txt", "R"}});
    ASSERT_TRUE(project.document().ProjectChanged());
    ASSERT_TRUE(project.Load(path));
    EXPECT_FALSE(project.document().ProjectChanged());
    EXPECT_EQ(DocumentText(), WriteDocumentText(source.xml()));
    EXPECT_EQ(test::ReadAll(work() + "/res/r.txt"), "R");
    EXPECT_EQ(test::ReadAll(work() + "/tsr.tsr"), WriteDocumentText(source.xml()));
}

TEST_F(ProjectFileTest, APlainDocumentLoadsAndKeepsTheChangedFlag) {
    ProjectDocument source;
    source.NewProjectDocument();
    const std::string path = files / "plain.tsr";
    ASSERT_TRUE(WriteFile(path, WriteDocumentText(source.xml())));
    for (bool changed : {true, false}) {
        project.document().SetProjectChanged(changed);
        ASSERT_TRUE(project.Load(path));
        EXPECT_EQ(project.document().ProjectChanged(), changed);
        EXPECT_EQ(project.currentPath(), path);
    }
}

TEST_F(ProjectFileTest, FailedLoadsKeepThePreviousProject) {
    pugi::xml_node knob;
    project.document().CreateObject(kTypeKnob, project.document().ProjectElement().first_child(),
                                    &knob);
    ASSERT_TRUE(project.Save(files / "before.tsr"));
    ASSERT_TRUE(WriteFile(work() + "/mine.txt", "mine"));
    const std::string before = DocumentText();
    const std::string workDoc = work() + "/tsr.tsr";
    std::string deep;
    for (int i = 0; i < 3000; ++i) deep += "d/";
    deep += "f.txt";
    const std::string huge((256u << 20) + 1, '\0');  // compresses to a few hundred kilobytes

    struct Case {
        const char* name;
        Entries zip;             // used when `plain` is empty
        std::string plain;       // file content written as is
        std::string messagePath; // "" = the project file itself
        std::string reason;      // said after the path, in parentheses
    } cases[] = {
        {"not an archive nor XML", {}, "just some text", "", "neither a zip archive nor an XML document"},
        {"XML of another kind", {}, "<svg></svg>", "", "the root element is not \"tsr\""},
        {"broken XML", {}, "<tsr>\n<project>\n</tsr>", "",
         "XML error at line 3: Start-end tags mismatch"},
        {"archive without tsr.tsr", {{"other.txt", "x"}}, "", workDoc, "no tsr.tsr in the archive"},
        {"archive with a broken document", {{"tsr.tsr", "<tsr><project>"}, {"mine.txt", "new"}},
         "", workDoc, "XML error at line 1: Start-end tags mismatch"},
        {"entry leaving the directory", {{"tsr.tsr", before}, {"../escaped.txt", "x"}}, "", "",
         "an archive entry would leave the working directory: ../escaped.txt"},
        {"nested escaping entry", {{"tsr.tsr", before}, {"a/../../escaped.txt", "x"}}, "", "",
         "an archive entry would leave the working directory: a/../../escaped.txt"},
        {"absolute entry", {{"tsr.tsr", before}, {files.path() + "/abs.txt", "x"}}, "", "",
         "an archive entry would leave the working directory: " + files.path() + "/abs.txt"},
        {"too deep", {{"tsr.tsr", before}, {deep, "x"}}, "", "",
         "an archive entry is nested more than 32 directories deep"},
        {"too large", {{"tsr.tsr", before}, {"big.bin", huge}}, "", "",
         "the archive would unpack to more than 256 MB"},
    };
    for (const Case& c : cases) {
        const std::string path = files / "bad.tsr";
        unlink(path.c_str());
        if (c.plain.empty()) {
            MakeZip(path, c.zip);
        } else {
            ASSERT_TRUE(WriteFile(path, c.plain));
        }
        Status s = project.Load(path);
        EXPECT_EQ(s.code, -1) << c.name;
        EXPECT_EQ(s.message, LoadString(kMsgErrorLoading) + " : " +
                                 (c.messagePath.empty() ? path : c.messagePath) +
                                 (c.reason.empty() ? "" : " (" + c.reason + ")"))
            << c.name;
        EXPECT_EQ(DocumentText(), before) << c.name;
        EXPECT_EQ(project.currentPath(), files / "before.tsr") << c.name;
        EXPECT_EQ(test::ReadAll(work() + "/mine.txt"), "mine") << c.name;
        EXPECT_FALSE(test::Exists(tmp / "escaped.txt")) << c.name;
        EXPECT_FALSE(test::Exists(files / "abs.txt")) << c.name;
    }
    EXPECT_EQ(project.Load(files / "missing.tsr").message,
              LoadString(kMsgErrorLoading) + " : " + files / "missing.tsr" +
                  " (No such file or directory)");
    // A FIFO is refused at once, never waited on.
    ASSERT_EQ(mkfifo((files / "fifo.tsr").c_str(), 0600), 0);
    EXPECT_EQ(project.Load(files / "fifo.tsr").message,
              LoadString(kMsgErrorLoading) + " : " + files / "fifo.tsr" + " (not a regular file)");
    // No staging directory is left behind.
    EXPECT_EQ(ListDirectory(tmp.path()), std::vector<std::string>{"TSR10.TMP"});
}

TEST_F(ProjectFileTest, ExtractionDoesNotFollowLinksInTheWorkingDirectory) {
    test::ScratchDir outside;
    ASSERT_EQ(symlink(outside.path().c_str(), (work() + "/res").c_str()), 0);
    ASSERT_EQ(symlink((outside / "f.txt").c_str(), (work() + "/top.txt").c_str()), 0);
    const std::string path = files / "links.tsr";
    MakeZip(path, {{"tsr.tsr", DocumentText()}, {"res/in.txt", "IN"}, {"top.txt", "TOP"}});
    ASSERT_TRUE(project.Load(path));
    EXPECT_TRUE(ListDirectory(outside.path()).empty());
    EXPECT_EQ(test::ReadAll(work() + "/res/in.txt"), "IN");
    EXPECT_EQ(test::ReadAll(work() + "/top.txt"), "TOP");
}

TEST(SafeEntryNames, Table) {
    struct Case {
        const char* name;
        bool safe;
    } cases[] = {{"tsr.tsr", true},   {"img/a.png", true}, {"dir/", true},     {"a..b", true},
                 {"./x", true},       {"..", false},       {"../x", false},    {"a/../b", false},
                 {"a/..", false},     {"/etc/x", false},   {"", false}};
    for (const Case& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
}

// Runs `body` in a child process that cannot read files it does not own (root drops to nobody).
template <typename Body>
int RunUnprivileged(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
}

TEST(ProjectFileSave, AFailedSaveKeepsTheOldFile) {
    test::ScratchDir dir;
    chmod(dir.path().c_str(), 0777);
    const std::string path = dir / "keep.tsr";
    const std::string secret = dir / "secret";
    ASSERT_TRUE(WriteFile(path, "previous project"));
    chmod(path.c_str(), 0666);
    ASSERT_TRUE(WriteFile(secret, "unreadable"));
    chmod(secret.c_str(), 0);
    int rc = RunUnprivileged([&] {
        Project p;
        if (p.Start(dir.path()) != 0) return 10;
        // A resource that cannot be read makes the archive fail half-way.
        if (symlink(secret.c_str(), (p.workingDirectory().path() + "/res.bin").c_str()) != 0)
            return 11;
        Status s = p.Save(path);
        // "Error while saving (REASON)": the system's reason for the failure is said.
        if (s.code != -1 || s.message.rfind(LoadString(kMsgErrorSaving) + " (", 0) != 0 ||
            s.message.back() != ')')
            return 12;
        if (!p.currentPath().empty() || !p.document().ProjectChanged()) return 13;
        return 0;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(test::ReadAll(path), "previous project");
    for (const std::string& name : ListDirectory(dir.path()))
        EXPECT_TRUE(name == "keep.tsr" || name == "secret") << name;  // no temporary left
}

}  // namespace
}  // namespace tsr

namespace tsr {
namespace {

// A file holding values outside their ranges opens with each brought to the nearest end, and
// says which; values in range, and texts that are no numbers, are read as they are.
TEST_F(ProjectFileTest, OutOfRangeValuesAreClampedOnLoadAndSaid) {
    setenv("LANG", "C", 1);
    struct Case {
        const char* name;
        const char* attribute;  // on the element `element`
        const char* element;
        const char* stored;
        const char* loaded;
        const char* line;  // nullptr: nothing said
    } cases[] = {
        {"a port past 16 bits", "webserverport", "project", "70000", "65535",
         "The value 70000 of Web server port number (Project) is out of range; it is now 65535"},
        {"port zero", "webserverport", "project", "0", "1",
         "The value 0 of Web server port number (Project) is out of range; it is now 1"},
        {"a port in range", "webserverport", "project", "8080", "8080", nullptr},
        {"a refresh period of 0", "refreshperiod", "unitylink", "0", "50",
         "The value 0 of Refresh period (Link to a Schneider Electric Unity simulator or M340 PLC "
         "variable) is out of range; it is now 50"},
        {"a negative knob width", "width", "knob", "-3.5", "0",
         "The value -3.5 of Width (Knob) is out of range; it is now 0"},
        {"no number", "webserverport", "project", "eighty", "eighty", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string document =
            "<tsr><project webserverport='80'><page name='P'><knob id='knob1' width='150'>"
            "<unitylink variable='%MW0' refreshperiod='500' gatewayid='uni1'/></knob></page>"
            "</project></tsr>";
        const std::string attribute = std::string(c.attribute) + "='";
        const size_t element = document.find(std::string("<") + c.element);
        const size_t at = document.find(attribute, element);
        ASSERT_NE(at, std::string::npos);
        const size_t end = document.find('\'', at + attribute.size());
        document.replace(at + attribute.size(), end - at - attribute.size(), c.stored);
        const std::string path = files / "ranges.tsr";
        ASSERT_TRUE(WriteFile(path, document));
        ASSERT_TRUE(project.Load(path));
        const pugi::xml_node node = project.document().xml().find_node(
            [&](pugi::xml_node n) { return std::string(n.name()) == c.element; });
        EXPECT_STREQ(node.attribute(c.attribute).value(), c.loaded);
        const std::vector<std::string> expected =
            c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{};
        EXPECT_EQ(project.loadCorrections(), expected);
    }
    setenv("LANG", "fr_FR.UTF-8", 1);
    ASSERT_TRUE(WriteFile(files / "fr.tsr", "<tsr><project webserverport='70000'/></tsr>"));
    ASSERT_TRUE(project.Load(files / "fr.tsr"));
    EXPECT_EQ(project.loadCorrections(),
              std::vector<std::string>{"La valeur 70000 de Web server port number (Project) est "
                                       "hors limites ; elle vaut maintenant 65535"});
    setenv("LANG", "C", 1);
}

}  // namespace
}  // namespace tsr
