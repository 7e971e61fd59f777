// Pure parsing of one request as received by the web server, and the fixed answer texts.
//
// Every function takes the received bytes as a view and reads nothing outside it. Zero bytes
// and other binary are ordinary bytes here: nothing stops at a NUL.
//
//   POST /UNI%MW0;%MW1=3 HTTP/1.0\r\n        request line: method, path, protocol
//   Content-Length: 5\r\n                   headers (only Content-Length is read)
//   \r\n                                    the first blank line ends the headers
//   hello                                   body (used by /PRN and /DLL)
//
// A path of the gateway protocol is a route name followed directly by the payload:
//   /UNI%MW0;%MW1=3     route /UNI, payload "%MW0;%MW1=3": read item, write item
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// The gateway a POST path addresses.
enum class Route { None, Printer, Sql, Dll, Corvane, Simora, Unity, Kx, S7, Modbus, Mqtt };

// A matched route and where its payload starts in the path (never past the path's end).
struct RouteMatch {
    Route route = Route::None;
    size_t payloadStart = 0;
};

// The route of a POST `path`, trying /PRN, /SQL, /DLL, /CVN (4 characters compared), /SM,
// /UNI (3), /KX, /S7 (2), /MB, /MQ (3) in that order, without regard to case; the payload starts
// after 4, 4, 4, 4, 3, 4, 3, 3, 3, 3 characters. {None, 0} when no route matches (an unanswered
// POST).
RouteMatch MatchRoute(std::string_view path);

// The path of a request beginning with `method` ("GET " or "POST ", compared without regard to
// case): the text after it up to the first space, or to the end when there is none. Empty when
// the request does not begin with `method`.
std::string_view RequestPath(std::string_view request, std::string_view method);

// The decimal value after the first "Content-Length:" (case-sensitive), spaces and tabs before
// it skipped; 0 when the header is absent or no digit follows; ULONG_MAX when the value does not
// fit.
unsigned long ContentLength(std::string_view request);

// The offset just after the first "\r\n\r\n" (where the body starts), or npos when the request
// has no blank line.
size_t BodyOffset(std::string_view request);

// The text of an /SQL payload with its percent escapes decoded: a '%' and the two characters
// after it (fewer at the end of the payload) become one byte whose value is given by the
// hexadecimal digits at their start; '+' and everything else is kept. The text ends before the
// first byte that would be zero: an escape without hex digit, "%00", or a NUL in the payload. So
// the result never holds a zero byte and can be handed on as a C string.
std::string DecodePercent(std::string_view payload);

// `s` up to its first space (all of it when it has none).
std::string_view CutAtSpace(std::string_view s);

// `path` up to its first '?' (all of it when it has none).
std::string_view CutAtQuery(std::string_view path);

// The items of a device payload: the text between ';' separators, empty items kept, so n
// separators give n + 1 items (an empty payload is one empty item).
std::vector<std::string_view> SplitItems(std::string_view payload);

// True when a device payload item is a write ("name=value"): it contains '='.
bool IsWriteItem(std::string_view item);

// The whole answer to an /SQL, /DLL or /PRN request: status line, headers and `body`.
std::string PlainAnswer(std::string_view body);

// The whole answer to a device route: as PlainAnswer, with "Access-Control-Allow-Origin: *".
std::string DeviceAnswer(std::string_view body);

// The Content-Type of a served file from the request path cut at its '?': the first ending of
// css, js, gif, jpg, jpeg, png, zip, gz, tar, htm, html, manifest that the text ends with
// (exact, case-sensitive, no dot needed); "application/octet-stream" when none does.
std::string_view ContentTypeFor(std::string_view requestText);

// The local file of a GET `path` (the caller has already turned "/ " into "/index.html"):
// `webRoot` (which ends with '/') joined with the path without its leading '/', cut at its first
// '?', not percent-decoded. nullopt when the path does not begin with '/', holds a NUL byte, has
// a ".." segment, or begins with "//" (an absolute name). The result may name a directory
// ("/", "/?x=1", "/dir/"): the caller serves regular files only.
std::optional<std::string> LocalFilePath(std::string_view webRoot, std::string_view path);

// The answer to a GET whose file cannot be found or is refused (125 bytes).
inline constexpr std::string_view kNotFoundAnswer =
    "HTTP/1.0 404 Not Found\r\nContent-Length: 54\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>404 Not Found</title></head></html>";
static_assert(kNotFoundAnswer.size() == 125);

// The answer to a client that is not allowed to connect (125 bytes), sent as soon as the
// connection is accepted.
inline constexpr std::string_view kForbiddenAnswer =
    "HTTP/1.0 403 Forbidden\r\nContent-Length: 54\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>403 Forbidden</title></head></html>";
static_assert(kForbiddenAnswer.size() == 125);

// The status line and headers sent before a file of `length` bytes and type `contentType`.
std::string FileAnswerHeader(unsigned long length, std::string_view contentType);

}  // namespace tsr
