// What a project reaches outside its own files, and the remembered decision to trust it.
#include "gateways/trust.h"

#include <gtest/gtest.h>

#include "model/catalogue.h"
#include "platform/fs.h"
#include "test_support.h"

namespace tsr {
namespace {

TEST(Trust, ReachesOutsideAreTheLibrariesForeignDatabasesAndPrintFiles) {
    struct Case {
        const char* key;
        const char* property;
        std::string value;
        std::optional<OutsideReach::Kind> kind;
        std::string path;
    };
    const std::string wd = "/tmp/w/TSR10.TMP";
    const Case cases[] = {
        {"dllgateway", "dllfilename", "mine.so", OutsideReach::Kind::Library, wd + "/mine.so"},
        {"dllgateway", "dllfilename", "/usr/lib/x.so", OutsideReach::Kind::Library, "/usr/lib/x.so"},
        {"sqllitegateway", "sqlfilename", "db.sql", std::nullopt, ""},
        {"sqllitegateway", "sqlfilename", "/home/u/private.db", OutsideReach::Kind::Database,
         "/home/u/private.db"},
        {"sqllitegateway", "sqlfilename", "../up.db", OutsideReach::Kind::Database, "../up.db"},
        {"printgateway", "printername", "", std::nullopt, ""},
        {"printgateway", "printername", "Office_Laser", std::nullopt, ""},
        {"printgateway", "printername", "file:report.pdf", OutsideReach::Kind::File,
         wd + "/report.pdf"},
        {"printgateway", "printername", "file:/home/u/.bashrc", OutsideReach::Kind::File,
         "/home/u/.bashrc"},
        {"unigateway", "ip", "10.0.0.1", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.value);
        ProjectDocument doc;
        doc.NewProjectDocument();
        pugi::xml_node n;
        doc.CreateObject(FindTypeByKey(c.key), doc.ProjectElement(), &n);
        doc.SetProperty(n, c.property, c.value);
        const std::vector<OutsideReach> reaches = FindOutsideReaches(doc, wd);
        ASSERT_EQ(reaches.size(), c.kind ? 1u : 0u);
        if (!c.kind) continue;
        EXPECT_EQ(reaches[0].kind, *c.kind);
        EXPECT_EQ(reaches[0].path, c.path);
    }
}

TEST(Trust, TheQuestionNamesEverythingInBothLanguages) {
    const std::vector<OutsideReach> reaches = {{OutsideReach::Kind::Library, "/w/a.so"},
                                               {OutsideReach::Kind::Database, "/d/b.db"},
                                               {OutsideReach::Kind::File, "/f/c.pdf"}};
    EXPECT_EQ(DescribeReaches("/p/sent.tsr", reaches, Language::English),
              "The project /p/sent.tsr reaches outside its own files. Once started, its gateways "
              "will:\n  - load the shared library /w/a.so (its code runs in Tessora)\n  - open the "
              "database /d/b.db for the panel's clients\n  - print to the file /f/c.pdf");
    EXPECT_EQ(DescribeReaches("/p/sent.tsr", reaches, Language::French),
              "Le projet /p/sent.tsr accède à autre chose que ses propres fichiers. Une fois "
              "démarrées, ses passerelles vont :\n  - charger la bibliothèque partagée /w/a.so (son "
              "code s'exécute dans Tessora)\n  - ouvrir la base de données /d/b.db pour les clients "
              "du panneau\n  - imprimer dans le fichier /f/c.pdf");
}

// The decision holds for one project file with what it reaches as it was: another file, another
// destination or a changed library asks again.
TEST(Trust, TheDecisionIsRememberedPerFileAndContent) {
    test::ScratchDir dir;
    const std::string library = dir / "carried.so";
    ASSERT_TRUE(WriteFile(library, "first build"));
    const std::vector<OutsideReach> reaches = {{OutsideReach::Kind::Library, library}};
    const std::string profile = dir / "config/tessora/profile.ini";
    const std::string fingerprint = TrustFingerprint(dir / "sent.tsr", reaches);
    ASSERT_EQ(fingerprint.size(), 40u);
    EXPECT_FALSE(IsTrusted(fingerprint, profile));
    ASSERT_TRUE(RememberTrusted(fingerprint, dir / "sent.tsr", profile));
    EXPECT_TRUE(IsTrusted(fingerprint, profile));
    EXPECT_EQ(TrustFingerprint(dir / "sent.tsr", reaches), fingerprint);

    EXPECT_FALSE(IsTrusted(TrustFingerprint(dir / "other.tsr", reaches), profile));
    EXPECT_FALSE(IsTrusted(
        TrustFingerprint(dir / "sent.tsr", {{OutsideReach::Kind::File, library}}), profile));
    ASSERT_TRUE(WriteFile(library, "second build"));
    EXPECT_FALSE(IsTrusted(TrustFingerprint(dir / "sent.tsr", reaches), profile));
    EXPECT_FALSE(IsTrusted("", profile));
}

}  // namespace
}  // namespace tsr
