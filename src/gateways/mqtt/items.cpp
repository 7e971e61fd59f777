#include "gateways/mqtt/items.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/number_text.h"
#include "base/text.h"

namespace tsr::mqtt {
namespace {

constexpr size_t npos = std::string_view::npos;

// The gateway part of an item and the rest: "mq1/a/b" → {"mq1", "a/b"}; an item without '/'
// has no gateway part.
std::pair<std::string_view, std::string_view> SplitGateway(std::string_view item) {
    const size_t slash = item.find('/');
    if (slash == npos) return {{}, item};
    return {item.substr(0, slash), item.substr(slash + 1)};
}

// The dotted field path "ENERGY.Power" → {"ENERGY", "Power"}; nullopt for an empty segment.
std::optional<std::vector<std::string>> SplitPath(std::string_view path) {
    std::vector<std::string> segments;
    size_t start = 0;
    while (true) {
        const size_t dot = path.find('.', start);
        const std::string_view segment = path.substr(start, dot == npos ? npos : dot - start);
        if (segment.empty()) return std::nullopt;
        segments.emplace_back(segment);
        if (dot == npos) return segments;
        start = dot + 1;
    }
}

// The deepest nesting of arrays and objects in a JSON text, strings skipped; stops counting
// once past `limit`.
int NestingDepth(std::string_view text, int limit) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > limit) return deepest;
        } else if (c == ']' || c == '}') --depth;
    }
    return deepest;
}

// The characters of a value that an answer cannot carry as they are.
std::string AnswerSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == ';') c = ',';
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
    }
    return out;
}

bool BrowserEscapes(int byte) {
    switch (byte) {
        case ' ': case '"': case '<': case '>': case '`': case '{': case '}': case '|': case '^':
            return true;
        default: return byte >= 0x80;
    }
}

}  // namespace

bool IsPlainTopic(std::string_view topic) {
    return !topic.empty() && topic.size() <= kMaxTopic && topic.find_first_of(std::string_view("+#\0", 3)) == npos;
}

std::optional<ReadItem> ParseReadItem(std::string_view item) {
    const auto [gateway, rest] = SplitGateway(item);
    const size_t bar = rest.find('|');
    ReadItem read;
    read.gateway.assign(gateway);
    read.topic.assign(rest.substr(0, bar));
    if (!IsPlainTopic(read.topic)) return std::nullopt;
    if (bar != npos) {
        std::optional<std::vector<std::string>> path = SplitPath(rest.substr(bar + 1));
        if (!path) return std::nullopt;
        read.field = std::move(*path);
    }
    return read;
}

std::optional<WriteItem> ParseWriteItem(std::string_view item) {
    const size_t eq = item.find('=');
    if (eq == npos) return std::nullopt;
    const auto [gateway, topic] = SplitGateway(item.substr(0, eq));
    if (!IsPlainTopic(topic)) return std::nullopt;
    return WriteItem{std::string(gateway), std::string(topic), std::string(item.substr(eq + 1))};
}

std::optional<std::string> PayloadText(std::string_view payload,
                                       const std::vector<std::string>& path) {
    if (path.empty()) return AnswerSafe(payload);
    if (NestingDepth(payload, kMaxJsonDepth) > kMaxJsonDepth) return std::nullopt;
    try {
        const nlohmann::json doc = nlohmann::json::parse(payload.begin(), payload.end(), nullptr, false);
        if (doc.is_discarded()) return std::nullopt;
        const nlohmann::json* at = &doc;
        for (const std::string& segment : path) {
            if (at->is_object()) {
                auto it = at->find(segment);
                if (it == at->end()) return std::nullopt;
                at = &*it;
            } else if (at->is_array()) {
                // A segment of digits picks an array element: "values.0".
                if (segment.find_first_not_of("0123456789") != std::string::npos)
                    return std::nullopt;
                const std::optional<int64_t> index = ParseInteger(segment, 0, INT32_MAX);
                if (!index || static_cast<size_t>(*index) >= at->size()) return std::nullopt;
                at = &(*at)[static_cast<size_t>(*index)];
            } else {
                return std::nullopt;
            }
        }
        if (at->is_string()) return AnswerSafe(at->get_ref<const std::string&>());
        if (at->is_boolean()) return std::string(at->get<bool>() ? "1" : "0");
        if (at->is_number()) return at->dump();
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string UndoBrowserEscapes(std::string_view item) {
    std::string out;
    out.reserve(item.size());
    for (size_t i = 0; i < item.size(); ++i) {
        if (item[i] == '%' && i + 2 < item.size()) {
            const int hi = HexDigit(item[i + 1]), lo = HexDigit(item[i + 2]);
            if (hi >= 0 && lo >= 0 && BrowserEscapes(hi * 16 + lo)) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += item[i];
    }
    return out;
}

std::optional<BrokerUrl> ParseBrokerUrl(std::string_view url) {
    BrokerUrl broker;
    if (url.starts_with("mqtts://")) {
        broker.tls = true;
        broker.port = 8883;
        url.remove_prefix(8);
    } else if (url.starts_with("mqtt://")) {
        url.remove_prefix(7);
    } else {
        return std::nullopt;
    }
    std::string_view hostPort = url.substr(0, url.find('/'));
    if (hostPort.size() < url.size()) {
        const std::string_view prefix = url.substr(hostPort.size() + 1);
        if (prefix.empty() || prefix.back() == '/' || prefix.front() == '/' ||
            !IsPlainTopic(prefix))
            return std::nullopt;
        broker.prefix.assign(prefix);
    }
    std::string_view host = hostPort, port;
    if (hostPort.starts_with('[')) {
        const size_t close = hostPort.find(']');
        if (close == npos) return std::nullopt;
        host = hostPort.substr(1, close - 1);
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port = after.substr(1);
            if (port.empty()) return std::nullopt;
        }
    } else if (const size_t colon = hostPort.rfind(':'); colon != npos) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
        if (port.empty()) return std::nullopt;
    }
    if (host.empty() || host.find_first_of(std::string_view(" @\0", 3)) != npos) return std::nullopt;
    if (!port.empty()) {
        if (port.find_first_not_of("0123456789") != npos) return std::nullopt;
        const std::optional<int64_t> value = ParseInteger(port, 1, 65535);
        if (!value) return std::nullopt;
        broker.port = static_cast<int>(*value);
    }
    broker.host.assign(host);
    return broker;
}

std::string EndpointText(const BrokerUrl& url) {
    const bool v6 = url.host.find(':') != std::string::npos;
    return (v6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port);
}

std::string PublishedTopic(std::string_view prefix, std::string_view family, std::string_view item) {
    std::string topic;
    topic.reserve(prefix.size() + family.size() + item.size() + 8);
    topic.append(prefix).append("/").append(family).append("/");
    for (char c : item) {
        switch (c) {
            case '/': topic += "%2F"; break;
            case '+': topic += "%2B"; break;
            case '#': topic += "%23"; break;
            case '\0': topic += "%00"; break;
            default: topic += c;
        }
    }
    return topic;
}

std::string GeneratedClientId(uint64_t seed) {
    char text[32];
    std::snprintf(text, sizeof text, "tessora-%012llx",
                  static_cast<unsigned long long>(seed & 0xffffffffffffULL));
    return text;
}

}  // namespace tsr::mqtt
