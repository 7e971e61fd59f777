// Fuzzes the parsing of one received request and the WebSocket handshake: the input is the
// request as received. Every function of the request and handshake units runs on it, and the
// results are checked against each other and against what must hold for any input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webserver/request.h"
#include "webserver/websocket.h"

namespace {

constexpr size_t npos = std::string_view::npos;
constexpr std::string_view kWebRoot = "/srv/tessora/WEB/";

void Check(bool condition) {
    if (!condition) abort();
}

// True when `part` is a view into `whole`.
bool Inside(std::string_view part, std::string_view whole) {
    if (part.empty()) return true;
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes well-formed base64 (as Base64Encode writes it); aborts on anything else.
std::string Base64Decode(std::string_view text) {
    Check(text.size() % 4 == 0);
    std::string out;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        uint32_t group = 0;
        int pads = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && last && j >= 2) {
                ++pads;
                group <<= 6;
                continue;
            }
            Check(pads == 0);
            const int v = Base64Value(c);
            Check(v >= 0);
            group = group << 6 | static_cast<uint32_t>(v);
        }
        out += static_cast<char>(group >> 16);
        if (pads < 2) out += static_cast<char>((group >> 8) & 0xFF);
        if (pads < 1) out += static_cast<char>(group & 0xFF);
    }
    return out;
}

void CheckPathFunctions(std::string_view path) {
    const std::string_view cut = tsr::CutAtQuery(path);
    Check(Inside(cut, path) && cut.find('?') == npos);
    Check(!tsr::ContentTypeFor(cut).empty());

    const std::optional<std::string> local = tsr::LocalFilePath(kWebRoot, path);
    if (!local) return;
    Check(local->starts_with(kWebRoot));
    const std::string_view relative = std::string_view(*local).substr(kWebRoot.size());
    Check(!relative.starts_with("/") && relative != ".." && !relative.starts_with("../"));
    Check(local->find("/../") == npos && !local->ends_with("/.."));
    Check(local->find('\0') == npos && relative.find('?') == npos);
    Check(relative == path.substr(1, relative.size()));
}

void CheckRoute(std::string_view path) {
    const tsr::RouteMatch match = tsr::MatchRoute(path);
    Check(match.payloadStart <= path.size());
    if (match.route == tsr::Route::None) Check(match.payloadStart == 0);
    if (match.route != tsr::Route::None) Check(path.size() >= 2 && path[0] == '/');
}

void CheckRequestFunctions(std::string_view request) {
    for (std::string_view method : {"GET ", "POST "}) {
        const std::string_view path = tsr::RequestPath(request, method);
        Check(Inside(path, request) && path.find(' ') == npos);
        CheckRoute(path);
        CheckPathFunctions(path);
    }
    CheckRoute(request);
    CheckPathFunctions(request);

    const unsigned long length = tsr::ContentLength(request);
    if (request.find("Content-Length:") == npos) Check(length == 0);
    const size_t body = tsr::BodyOffset(request);
    if (body != npos)
        Check(body >= 4 && body <= request.size() && request.substr(body - 4, 4) == "\r\n\r\n");

    const std::string decoded = tsr::DecodePercent(request);
    Check(decoded.size() <= request.size() && decoded.find('\0') == npos);
    if (request.find('%') == npos) Check(decoded == request.substr(0, request.find('\0')));

    const std::string_view cut = tsr::CutAtSpace(request);
    Check(Inside(cut, request) && cut.find(' ') == npos);
    const std::vector<std::string_view> items = tsr::SplitItems(request);
    Check(items.size() == static_cast<size_t>(std::count(request.begin(), request.end(), ';')) + 1);
    std::string joined;
    for (size_t i = 0; i < items.size(); ++i) {
        Check(Inside(items[i], request) && items[i].find(';') == npos);
        Check(tsr::IsWriteItem(items[i]) == (items[i].find('=') != npos));
        if (i > 0) joined += ';';
        joined += items[i];
    }
    Check(joined == request);
}

// An answer built around `body` announces exactly that body.
void CheckAnswer(const std::string& answer, std::string_view body) {
    const size_t at = tsr::BodyOffset(answer);
    Check(at != npos && answer.substr(at) == body);
    Check(tsr::ContentLength(answer) == body.size());
}

void CheckAnswers(std::string_view request) {
    CheckAnswer(tsr::PlainAnswer(request), request);
    CheckAnswer(tsr::DeviceAnswer(request), request);
    const unsigned long length = tsr::ContentLength(request);
    const std::string header = tsr::FileAnswerHeader(length, tsr::ContentTypeFor(request));
    Check(tsr::ContentLength(header) == length && tsr::BodyOffset(header) == header.size());
}

void CheckHandshake(std::string_view request) {
    const std::string encoded = tsr::Base64Encode(request);
    Check(encoded.size() == (request.size() + 2) / 3 * 4);
    Check(Base64Decode(encoded) == request);

    const std::string accept = tsr::WebSocketAccept(request);
    Check(accept.size() == 28 && accept.back() == '=' && Base64Decode(accept).size() == 20);

    const std::optional<std::string> answer = tsr::WebSocketUpgradeAnswer(request);
    if (answer) {
        Check(request.find("Upgrade") != npos && request.find("Sec-WebSocket-Key") != npos);
        Check(answer->starts_with("HTTP/1.1 101 Switching Protocols\r\n"));
        Check(tsr::BodyOffset(*answer) == answer->size());
    }

    const bool close = !request.empty() && (static_cast<unsigned char>(request[0]) & 0x0F) == 8;
    Check(tsr::IsWebSocketCloseFrame(request) == close);
}

// The digest does not depend on how the message is cut into pieces.
void CheckSha1Pieces(std::string_view request) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(request.data());
    tsr::SHA1 whole;
    whole.Input(bytes, request.size());
    uint32_t a[5], b[5];
    Check(whole.Result(a));

    tsr::SHA1 pieces;
    const size_t step = request.empty() ? 1 : static_cast<unsigned char>(request[0]) % 70 + 1;
    for (size_t at = 0; at < request.size(); at += step)
        pieces.Input(bytes + at, std::min(step, request.size() - at));
    Check(pieces.Result(b));
    for (int i = 0; i < 5; ++i) Check(a[i] == b[i]);

    pieces.Input(bytes, request.size());
    Check(pieces.Result(b) == request.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view request(reinterpret_cast<const char*>(data), size);
    CheckRequestFunctions(request);
    CheckAnswers(request);
    CheckHandshake(request);
    CheckSha1Pieces(request);
    return 0;
}
