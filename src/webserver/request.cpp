#include "webserver/request.h"

#include <climits>

#include "base/text.h"

namespace tsr {
namespace {

constexpr size_t npos = std::string_view::npos;

// One row of the route table: the route name, how many of its characters are compared, and
// where the payload starts.
struct RouteRow {
    std::string_view name;
    size_t compared;
    size_t payloadStart;
    Route route;
};

// Tried in order: /SQL must come before /S7, whose test looks at "/S" only.
constexpr RouteRow kRoutes[] = {
    {"/PRN", 4, 4, Route::Printer}, {"/SQL", 4, 4, Route::Sql},   {"/DLL", 4, 4, Route::Dll},
    {"/CVN", 4, 4, Route::Corvane}, {"/SM", 3, 3, Route::Simora}, {"/UNI", 3, 4, Route::Unity},
    {"/KX", 2, 3, Route::Kx},       {"/S7", 2, 3, Route::S7},     {"/MB", 3, 3, Route::Modbus},
    {"/MQ", 3, 3, Route::Mqtt},
};

struct ContentTypeRow {
    std::string_view ending;
    std::string_view type;
};

// First match wins, so the order matters.
constexpr ContentTypeRow kContentTypes[] = {
    {"css", "text/css"},    {"js", "application/javascript"},
    {"gif", "image/gif"},   {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"}, {"png", "image/png"},
    {"zip", "image/zip"},   {"gz", "image/gz"},
    {"tar", "image/tar"},   {"htm", "text/html"},
    {"html", "text/html"},  {"manifest", "text/cache-manifest"},
};

constexpr std::string_view kOctetStream = "application/octet-stream";

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// True when `text` begins with `prefix`, compared without regard to ASCII case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (UpperAscii(text[i]) != UpperAscii(prefix[i])) return false;
    }
    return true;
}

// The byte of the escape whose (at most two) characters are `digits`: the value of the hex
// digits at their start, 0 when there is none.
unsigned char EscapeValue(std::string_view digits) {
    unsigned value = 0;
    for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) break;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return static_cast<unsigned char>(value);
}

// True when one of the '/'-separated segments of `relative` is "..".
bool HasParentSegment(std::string_view relative) {
    size_t start = 0;
    while (true) {
        const size_t end = relative.find('/', start);
        const std::string_view segment = relative.substr(start, end == npos ? npos : end - start);
        if (segment == "..") return true;
        if (end == npos) return false;
        start = end + 1;
    }
}

std::string AnswerWithHeaders(std::string_view extraHeaders, std::string_view body) {
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Length: ";
    answer += std::to_string(body.size());
    answer += "\r\nContent-Type: text/html\r\nCache-Control: no-cache, no-store\r\n";
    answer += extraHeaders;
    answer += "\r\n";
    answer += body;
    return answer;
}

}  // namespace

RouteMatch MatchRoute(std::string_view path) {
    for (const RouteRow& row : kRoutes) {
        if (!StartsWithNoCase(path, row.name.substr(0, row.compared))) continue;
        return {row.route, row.payloadStart < path.size() ? row.payloadStart : path.size()};
    }
    return {};
}

std::string_view RequestPath(std::string_view request, std::string_view method) {
    if (!StartsWithNoCase(request, method)) return {};
    return CutAtSpace(request.substr(method.size()));
}

unsigned long ContentLength(std::string_view request) {
    constexpr std::string_view kHeader = "Content-Length:";
    const size_t header = request.find(kHeader);
    if (header == npos) return 0;
    size_t i = header + kHeader.size();
    while (i < request.size() && (request[i] == ' ' || request[i] == '\t')) ++i;
    unsigned long value = 0;
    for (; i < request.size() && request[i] >= '0' && request[i] <= '9'; ++i) {
        const unsigned long digit = static_cast<unsigned long>(request[i] - '0');
        if (value > (ULONG_MAX - digit) / 10) return ULONG_MAX;
        value = value * 10 + digit;
    }
    return value;
}

size_t BodyOffset(std::string_view request) {
    const size_t blank = request.find("\r\n\r\n");
    if (blank == npos) return npos;
    return blank + 4;
}

std::string DecodePercent(std::string_view payload) {
    std::string out;
    out.reserve(payload.size());
    size_t i = 0;
    while (i < payload.size()) {
        unsigned char byte = static_cast<unsigned char>(payload[i]);
        if (byte == '%') {
            byte = EscapeValue(payload.substr(i + 1, 2));
            i += 3;  // may pass the end when the payload ends inside the escape
        } else {
            ++i;
        }
        if (byte == 0) break;
        out += static_cast<char>(byte);
    }
    return out;
}

std::string_view CutAtSpace(std::string_view s) {
    return s.substr(0, s.find(' '));
}

std::string_view CutAtQuery(std::string_view path) {
    return path.substr(0, path.find('?'));
}

std::vector<std::string_view> SplitItems(std::string_view payload) {
    std::vector<std::string_view> items;
    size_t start = 0;
    while (true) {
        const size_t end = payload.find(';', start);
        if (end == npos) {
            items.push_back(payload.substr(start));
            return items;
        }
        items.push_back(payload.substr(start, end - start));
        start = end + 1;
    }
}

bool IsWriteItem(std::string_view item) {
    return item.find('=') != npos;
}

std::string PlainAnswer(std::string_view body) {
    return AnswerWithHeaders({}, body);
}

std::string DeviceAnswer(std::string_view body) {
    return AnswerWithHeaders("Access-Control-Allow-Origin: *\r\n", body);
}

std::string_view ContentTypeFor(std::string_view requestText) {
    for (const ContentTypeRow& row : kContentTypes) {
        if (requestText.ends_with(row.ending)) return row.type;
    }
    return kOctetStream;
}

std::optional<std::string> LocalFilePath(std::string_view webRoot, std::string_view path) {
    if (path.empty() || path.front() != '/') return std::nullopt;
    if (path.find('\0') != npos) return std::nullopt;
    const std::string_view relative = CutAtQuery(path.substr(1));
    if (!relative.empty() && relative.front() == '/') return std::nullopt;
    if (HasParentSegment(relative)) return std::nullopt;
    std::string local(webRoot);
    local += relative;
    return local;
}

std::string FileAnswerHeader(unsigned long length, std::string_view contentType) {
    std::string header = "HTTP/1.0 200 OK\r\nContent-Length: ";
    header += std::to_string(length);
    header += "\r\nContent-Type: ";
    header += contentType;
    header += "\r\nCache-Control: max-age=30\r\n\r\n";
    return header;
}

}  // namespace tsr
