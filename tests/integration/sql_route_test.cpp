// The /SQL route of a served project reaches the gateway's own database and nothing else.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "serve_support.h"
#include "socket_support.h"

namespace tsr {
namespace {

std::string Encode(const std::string& statement) {
    std::string out;
    for (char c : statement) out += c == ' ' ? std::string("%20") : std::string(1, c);
    return out;
}

TEST(SqlRoute, StatementsReachOnlyTheGatewaysDatabase) {
    test::ServeProcess serve(TESSORA_SOURCE_DIR "/examples/demo.tsr");
    ASSERT_NE(serve.port(), 0) << serve.log();
    auto sql = [&](const std::string& statement) {
        return test::AnswerBody(test::HttpExchange(
            serve.port(), "POST /SQL" + Encode(statement) + " HTTP/1.0\r\n\r\n"));
    };
    test::ScratchDir outside;
    // An existing database elsewhere, which an attacker would like to read or change.
    const std::string existing = outside / "existing.db";
    ASSERT_EQ(test::RunCommand("sqlite3 '" + existing + "' \"create table secret(x); " +
                               "insert into secret values('s3cret')\" && echo ok"),
              "ok\n");
    const std::string existingBefore = test::ReadAll(existing);

    struct Case {
        const char* name;
        std::string statement;
        const char* expected;
    } cases[] = {
        {"documented create", "create table t(a,b)", ""},
        {"documented insert", "insert into t values(1,'x')", ""},
        {"transaction", "begin; insert into t values(2,'y'); commit", ""},
        {"update", "update t set b='z' where a=2", ""},
        {"select", "select * from t", "1;x;2;z"},
        {"reading pragma", "pragma table_info(t)", "0;a;;0;;0;1;b;;0;;0"},
        {"plain vacuum", "vacuum", ""},
        {"attach a new file", "attach database '" + (outside / "new.db") + "' as x", "[err=-1]"},
        {"create through attach",
         "attach '" + (outside / "new.db") + "' as x; create table x.t(a)", "[err=-1]"},
        {"attach an existing file", "attach '" + existing + "' as e", "[err=-1]"},
        {"read through attach", "attach '" + existing + "' as e; select * from e.secret",
         "[err=-1]"},
        {"attach in memory", "attach ':memory:' as m", "[err=-1]"},
        {"detach", "detach main", "[err=-1]"},
        {"vacuum into", "vacuum into '" + (outside / "copy.db") + "'", "[err=-1]"},
        {"load_extension", "select load_extension('/lib/x86_64-linux-gnu/libc.so.6')",
         "[err=-1]"},
        {"write the schema table",
         "pragma writable_schema=1; update sqlite_master set sql='x' where name='t'",
         "[err=-1]"},
        {"write sqlite_schema", "delete from sqlite_schema", "[err=-1]"},
        {"move the temporary directory", "pragma temp_store_directory='" + outside.path() + "'",
         "[err=-1]"},
        {"still intact", "select count(*) from t", "2"},
    };
    for (const Case& c : cases) EXPECT_EQ(sql(c.statement), c.expected) << c.name;

    EXPECT_EQ(ListDirectory(outside.path()), std::vector<std::string>{"existing.db"});
    EXPECT_EQ(test::ReadAll(existing), existingBefore);
    // A refused statement logs the usual line.
    EXPECT_NE(serve.log().find("Webserver : POST from IP(127.0.0.1), SQL error '-1'"),
              std::string::npos);
    EXPECT_EQ(serve.Stop(), 0);
}

}  // namespace
}  // namespace tsr
