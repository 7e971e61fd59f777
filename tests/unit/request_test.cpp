#include "webserver/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace tsr {
namespace {

using namespace std::string_literals;

constexpr size_t npos = std::string_view::npos;

TEST(Request, MatchRoute) {
    struct Case {
        const char* name;
        std::string path;
        Route route;
        std::string payload;  // path.substr(payloadStart)
    } cases[] = {
        {"printer", "/PRN", Route::Printer, ""},
        {"printer, lower case, trailing text", "/prnxyz", Route::Printer, "xyz"},
        {"sql", "/SQLselect%20a", Route::Sql, "select%20a"},
        {"sql, mixed case", "/sQlx", Route::Sql, "x"},
        {"dll", "/DLLmyproc", Route::Dll, "myproc"},
        {"corvane", "/CVNm200", Route::Corvane, "m200"},
        {"corvane write", "/cvnm200=5", Route::Corvane, "m200=5"},
        {"simora", "/SMcube.x", Route::Simora, "cube.x"},
        {"simora before s7", "/sm", Route::Simora, ""},
        {"unity", "/UNI%MW0", Route::Unity, "%MW0"},
        {"unity, lower case", "/uni%MW0", Route::Unity, "%MW0"},
        {"unity, fourth character free", "/UNx%MW0", Route::Unity, "%MW0"},
        {"unity, three characters", "/UN", Route::Unity, ""},
        {"kx", "/KX$MW10", Route::Kx, "$MW10"},
        {"kx, two characters", "/K", Route::Kx, ""},
        {"kx, third character free", "/kAb", Route::Kx, "b"},
        {"s7", "/S7DB1.DBW0", Route::S7, "DB1.DBW0"},
        {"s7, two characters", "/S", Route::S7, ""},
        {"s7, lower case", "/s7m0.0", Route::S7, "m0.0"},
        {"short of /SQL falls to s7", "/SQ", Route::S7, ""},
        {"not /SQL falls to s7", "/SQxy", Route::S7, "xy"},
        {"modbus", "/MBmb1/hr0", Route::Modbus, "mb1/hr0"},
        {"modbus, lower case, a write", "/mbmb1/hr0:f32=1.5", Route::Modbus, "mb1/hr0:f32=1.5"},
        {"modbus, mixed case, two items", "/mBhr0;co1", Route::Modbus, "hr0;co1"},
        {"modbus, three characters", "/MB", Route::Modbus, ""},
        {"short of /MB", "/M", Route::None, ""},
        {"not /MB", "/MX", Route::None, ""},
        {"unknown", "/XYZ", Route::None, ""},
        {"root", "/", Route::None, ""},
        {"empty", "", Route::None, ""},
        {"no slash", "UNI%MW0", Route::None, ""},
        {"short of /PRN", "/PR", Route::None, ""},
        {"short of /CVN", "/CV", Route::None, ""},
        {"short of /DLL", "/DL", Route::None, ""},
        {"zero byte", "/\0NI"s, Route::None, ""},
    };
    for (const Case& c : cases) {
        const RouteMatch match = MatchRoute(c.path);
        EXPECT_EQ(match.route, c.route) << c.name;
        if (match.route == Route::None) {
            EXPECT_EQ(match.payloadStart, 0u) << c.name;
            continue;
        }
        ASSERT_LE(match.payloadStart, c.path.size()) << c.name;
        EXPECT_EQ(c.path.substr(match.payloadStart), c.payload) << c.name;
    }
}

TEST(Request, RequestPath) {
    struct Case {
        const char* name;
        std::string request;
        const char* method;
        std::string expected;
    } cases[] = {
        {"get", "GET /index.html HTTP/1.0\r\n\r\n", "GET ", "/index.html"},
        {"get, lower case", "get /a.js HTTP/1.0\r\n", "GET ", "/a.js"},
        {"get, mixed case, no protocol", "gEt /a", "GET ", "/a"},
        {"bare slash", "GET / HTTP/1.0\r\n", "GET ", "/"},
        {"query kept", "GET /p.html?v=2 HTTP/1.0", "GET ", "/p.html?v=2"},
        {"post", "POST /CVNm200 HTTP/1.0\r\n", "POST ", "/CVNm200"},
        {"post, lower case", "post /UNI%MW0;%MW1=3 HTTP/1.1", "POST ", "/UNI%MW0;%MW1=3"},
        {"zero byte kept", "GET /a\0b HTTP/1.0"s, "GET ", "/a\0b"s},
        {"two spaces", "GET  /x HTTP/1.0", "GET ", ""},
        {"method only", "GET ", "GET ", ""},
        {"shorter than the method", "GE", "GET ", ""},
        {"other method", "HEAD /x HTTP/1.0", "GET ", ""},
        {"method without space", "GETX /x", "GET ", ""},
        {"post asked, get given", "GET /x HTTP/1.0", "POST ", ""},
        {"empty", "", "GET ", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(RequestPath(c.request, c.method), c.expected) << c.name;
}

TEST(Request, ContentLength) {
    std::string max = std::to_string(ULONG_MAX);
    std::string aboveMax = max;
    ++aboveMax.back();  // ULONG_MAX ends in 5 for 32 and 64 bits
    struct Case {
        const char* name;
        std::string request;
        unsigned long expected;
    } cases[] = {
        {"header", "POST /PRN HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello", 5},
        {"no blank", "Content-Length:12\r\n", 12},
        {"blanks and tabs", "Content-Length: \t 7\r\n", 7},
        {"leading zeros", "Content-Length: 0000012", 12},
        {"digits end the value", "Content-Length: 12abc", 12},
        {"first header wins", "Content-Length: 3\r\nContent-Length: 9\r\n", 3},
        {"after a zero byte", "\0POST\0Content-Length: 4\r\n"s, 4},
        {"absent", "POST /PRN HTTP/1.0\r\n\r\nhello", 0},
        {"empty", "", 0},
        {"lower case header", "content-length: 5\r\n", 0},
        {"no digits", "Content-Length: x", 0},
        {"sign", "Content-Length: -3", 0},
        {"plus sign", "Content-Length: +3", 0},
        {"line break is not a blank", "Content-Length:\r\n5", 0},
        {"at the end", "Content-Length:", 0},
        {"largest value", "Content-Length: " + max, ULONG_MAX},
        {"one above", "Content-Length: " + aboveMax, ULONG_MAX},
        {"far above", "Content-Length: " + std::string(400, '9') + "\r\n", ULONG_MAX},
    };
    for (const Case& c : cases) EXPECT_EQ(ContentLength(c.request), c.expected) << c.name;
}

TEST(Request, BodyOffset) {
    struct Case {
        const char* name;
        std::string request;
        size_t expected;
    } cases[] = {
        {"body", "POST /x HTTP/1.0\r\n\r\nbody", 20},
        {"empty body", "POST /x HTTP/1.0\r\n\r\n", 20},
        {"blank line only", "\r\n\r\n", 4},
        {"first blank line", "a\r\n\r\n\r\n\r\nb", 5},
        {"after a zero byte", "\0\r\n\r\nb"s, 5},
        {"cut blank line", "POST /x HTTP/1.0\r\n\r", npos},
        {"line feeds only", "POST /x HTTP/1.0\n\nbody", npos},
        {"empty", "", npos},
    };
    for (const Case& c : cases) EXPECT_EQ(BodyOffset(c.request), c.expected) << c.name;
}

TEST(Request, DecodePercent) {
    struct Case {
        const char* name;
        std::string payload;
        std::string expected;
    } cases[] = {
        {"statement", "select%20name%20from%20t", "select name from t"},
        {"plus kept", "a+b", "a+b"},
        {"upper and lower hex", "%4a%4A%41", "JJA"},
        {"high byte", "%ff%C3%A9", "\xff\xc3\xa9"},
        {"percent itself", "100%25", "100%"},
        {"not decoded twice", "%2541", "%41"},
        {"one hex digit", "%4G!", "\x04!"},
        {"no hex digit ends the text", "ab%zzcd", "ab"},
        {"second character not hex", "ab%G4cd", "ab"},
        {"escape of zero ends the text", "ab%00cd", "ab"},
        {"percent after percent", "a%%41", "a"},
        {"percent at the end", "ab%", "ab"},
        {"one character at the end", "ab%4", "ab\x04"},
        {"hex pair at the end", "ab%41", "abA"},
        {"zero byte ends the text", "a\0b"s, "a"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodePercent(c.payload), c.expected) << c.name;
}

TEST(Request, CutAtSpaceAndQuery) {
    struct Case {
        const char* name;
        std::string text;
        std::string space;
        std::string query;
    } cases[] = {
        {"both", "/a?b c?d", "/a?b", "/a"},
        {"space only", "/CVNm200 HTTP/1.0", "/CVNm200", "/CVNm200 HTTP/1.0"},
        {"query only", "/p.html?v=2", "/p.html?v=2", "/p.html"},
        {"neither", "/x", "/x", "/x"},
        {"leading", " ?", "", " "},
        {"empty", "", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CutAtSpace(c.text), c.space) << c.name;
        EXPECT_EQ(CutAtQuery(c.text), c.query) << c.name;
    }
}

TEST(Request, SplitItems) {
    struct Case {
        const char* name;
        std::string payload;
        std::vector<std::string_view> expected;
    } cases[] = {
        {"one", "m200", {"m200"}},
        {"reads and a write", "%MW0;%MW1=3;%MW2", {"%MW0", "%MW1=3", "%MW2"}},
        {"empty item kept", "a;;b", {"a", "", "b"}},
        {"trailing separator", "a;", {"a", ""}},
        {"leading separator", ";a", {"", "a"}},
        {"separator only", ";", {"", ""}},
        {"empty", "", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(SplitItems(c.payload), c.expected) << c.name;
}

TEST(Request, IsWriteItem) {
    struct Case {
        const char* name;
        const char* item;
        bool write;
    } cases[] = {
        {"write", "%MW1=3", true},    {"empty value", "m200=", true}, {"equals only", "=", true},
        {"two equals", "a==b", true}, {"read", "m200", false},        {"empty", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsWriteItem(c.item), c.write) << c.name;
}

TEST(Request, Answers) {
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: ";
    const std::string plain =
        "\r\nContent-Type: text/html\r\nCache-Control: no-cache, no-store\r\n";
    const std::string cors = "Access-Control-Allow-Origin: *\r\n";
    struct Case {
        const char* name;
        std::string body;
        std::string length;
    } cases[] = {
        {"empty", "", "0"},
        {"value", "0", "1"},
        {"error", "[err=-1]", "8"},
        {"zero bytes counted", "a\0b"s, "3"},
        {"full answer buffer", std::string(100000, 'x'), "100000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PlainAnswer(c.body), head + c.length + plain + "\r\n" + c.body) << c.name;
        EXPECT_EQ(DeviceAnswer(c.body), head + c.length + plain + cors + "\r\n" + c.body) << c.name;
        // Read back with the request parsers: the header announces the body that follows it.
        for (const std::string& answer : {PlainAnswer(c.body), DeviceAnswer(c.body)}) {
            const size_t body = BodyOffset(answer);
            ASSERT_NE(body, npos) << c.name;
            EXPECT_EQ(ContentLength(answer), answer.size() - body) << c.name;
        }
    }
}

TEST(Request, FileAnswers) {
    struct Case {
        const char* name;
        unsigned long length;
        const char* type;
        std::string expected;
    } cases[] = {
        {"css", 1234, "text/css",
         "HTTP/1.0 200 OK\r\nContent-Length: 1234\r\nContent-Type: text/css\r\n"
         "Cache-Control: max-age=30\r\n\r\n"},
        {"empty file", 0, "application/octet-stream",
         "HTTP/1.0 200 OK\r\nContent-Length: 0\r\nContent-Type: application/octet-stream\r\n"
         "Cache-Control: max-age=30\r\n\r\n"},
        {"largest length", ULONG_MAX, "image/png",
         "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(ULONG_MAX) +
             "\r\nContent-Type: image/png\r\nCache-Control: max-age=30\r\n\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileAnswerHeader(c.length, c.type), c.expected) << c.name;

    // The 404 answer announces exactly the page that follows its blank line.
    EXPECT_EQ(kNotFoundAnswer.size(), 125u);
    EXPECT_TRUE(kNotFoundAnswer.starts_with("HTTP/1.0 404 Not Found\r\n"));
    const size_t body = BodyOffset(kNotFoundAnswer);
    ASSERT_NE(body, npos);
    EXPECT_EQ(ContentLength(kNotFoundAnswer), kNotFoundAnswer.size() - body);
    EXPECT_EQ(kNotFoundAnswer.substr(body),
              "<html><head><title>404 Not Found</title></head></html>");
}

// A GET path served as the server does: the local file from LocalFilePath, the type from the
// path cut at its '?'.
TEST(Request, ServedFiles) {
    const std::string root = "/srv/tessora/WEB/";
    struct Case {
        const char* name;
        std::string path;
        std::string file;  // relative to root
        const char* type;
    } cases[] = {
        {"index", "/index.html", "index.html", "text/html"},
        {"query cut", "/page.html?v=2", "page.html", "text/html"},
        {"endings are case-sensitive", "/PAGE.HTML", "PAGE.HTML", "application/octet-stream"},
        {"script", "/app.js", "app.js", "application/javascript"},
        {"manifest", "/cache.manifest", "cache.manifest", "text/cache-manifest"},
        {"last characters only", "/x.xcss", "x.xcss", "text/css"},
        {"no dot needed", "/ajs", "ajs", "application/javascript"},
        {"type from the path, not the query", "/x.js?y.css", "x.js", "application/javascript"},
        {"sub-directory", "/libs/jquery.mobile-1.3.2.min.css", "libs/jquery.mobile-1.3.2.min.css",
         "text/css"},
        {"htm", "/old.htm", "old.htm", "text/html"},
        {"gif", "/a.gif", "a.gif", "image/gif"},
        {"jpg", "/a.jpg", "a.jpg", "image/jpeg"},
        {"jpeg", "/a.jpeg", "a.jpeg", "image/jpeg"},
        {"png", "/aticon.png", "aticon.png", "image/png"},
        {"zip", "/a.zip", "a.zip", "image/zip"},
        {"gz", "/a.tar.gz", "a.tar.gz", "image/gz"},
        {"tar", "/a.tar", "a.tar", "image/tar"},
        {"unknown ending", "/notes.txt", "notes.txt", "application/octet-stream"},
        {"percent looked up literally", "/my%20file.txt", "my%20file.txt",
         "application/octet-stream"},
        {"encoded dots are no segment", "/..%2fetc", "..%2fetc", "application/octet-stream"},
        {"root with a query", "/?x=1", "", "application/octet-stream"},
        {"query with dots", "/?../../x", "", "application/octet-stream"},
        {"directory", "/libs/", "libs/", "application/octet-stream"},
        {"dot segment stays inside", "/a/./b.png", "a/./b.png", "image/png"},
        {"dots inside a name", "/a..b.css", "a..b.css", "text/css"},
        {"three dots", "/...", "...", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LocalFilePath(root, c.path), root + c.file) << c.name;
        EXPECT_EQ(ContentTypeFor(CutAtQuery(c.path)), c.type) << c.name;
    }
}

TEST(Request, PathsLeavingTheRootAreRefused) {
    struct Case {
        const char* name;
        std::string path;
    } cases[] = {
        {"parent", "/../etc/passwd"},
        {"parent after a directory", "/a/../../x"},
        {"back into the root", "/a/../b.html"},
        {"parent alone", "/.."},
        {"parent at the end", "/a/.."},
        {"parent before the query", "/a/..?x"},
        {"absolute", "//etc/passwd"},
        {"no leading slash", "index.html"},
        {"empty", ""},
        {"zero byte", "/a\0.html"s},
        {"zero byte in the query", "/a.html?\0"s},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LocalFilePath("/srv/tessora/WEB/", c.path), std::nullopt) << c.name;
}

}  // namespace
}  // namespace tsr
