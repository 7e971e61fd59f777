#include "webserver/access_rules.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace tsr {
namespace {

constexpr std::array<uint8_t, 12> kIpv4MappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// True when bit `i` (0 = the most significant bit of the first byte) of `a` is set.
bool BitAt(const IpAddress& a, int i) { return (a.bytes[i / 8] >> (7 - i % 8)) & 1; }

// The decimal prefix length `text`, at most `max`; nullopt for anything else.
std::optional<int> ParsePrefix(std::string_view text, int max) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    if (text.size() > 1 && text[0] == '0') return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > max) return std::nullopt;
    return value;
}

// One entry of a rule list, or why it is refused.
std::optional<Cidr> ParseEntry(std::string_view entry, std::string& error) {
    const size_t slash = entry.find('/');
    const std::string_view addressText = entry.substr(0, slash);
    const std::optional<IpAddress> address = ParseIpAddress(addressText);
    if (!address) {
        error = "\"" + std::string(entry) + "\" is not an IPv4 or IPv6 address";
        return std::nullopt;
    }
    // An address written in IPv4 form counts its prefix on 32 bits, any other on 128.
    const bool writtenAsIpv4 = addressText.find(':') == std::string_view::npos;
    const int width = writtenAsIpv4 ? 32 : 128;
    Cidr cidr{*address, 128};
    if (slash != std::string_view::npos) {
        const std::optional<int> prefix = ParsePrefix(entry.substr(slash + 1), width);
        if (!prefix) {
            error = "\"" + std::string(entry) + "\" has no prefix length from 0 to " +
                    std::to_string(width) + " after its \"/\"";
            return std::nullopt;
        }
        cidr.prefix = *prefix + (128 - width);
    }
    for (int i = cidr.prefix; i < 128; ++i) {
        if (!BitAt(cidr.network, i)) continue;
        Cidr network = cidr;
        for (int j = cidr.prefix; j < 128; ++j) network.network.bytes[j / 8] &= ~(0x80 >> (j % 8));
        error = "\"" + std::string(entry) + "\" has address bits set past its prefix length (" +
                network.Text() + " is the block that holds it)";
        return std::nullopt;
    }
    return cidr;
}

}  // namespace

IpAddress IpAddress::FromIpv4(uint32_t networkOrder) {
    IpAddress a;
    std::copy(kIpv4MappedPrefix.begin(), kIpv4MappedPrefix.end(), a.bytes.begin());
    std::memcpy(a.bytes.data() + 12, &networkOrder, 4);
    return a;
}

bool IpAddress::IsIpv4() const {
    return std::equal(kIpv4MappedPrefix.begin(), kIpv4MappedPrefix.end(), bytes.begin());
}

std::string IpAddress::Text() const {
    if (IsIpv4()) {
        return std::to_string(bytes[12]) + "." + std::to_string(bytes[13]) + "." +
               std::to_string(bytes[14]) + "." + std::to_string(bytes[15]);
    }
    char text[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, bytes.data(), text, sizeof text)) return "?";
    return text;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
    // inet_pton wants a C string; no text form of an address is longer than this.
    char buffer[INET6_ADDRSTRLEN + 1];
    if (text.empty() || text.size() >= sizeof buffer) return std::nullopt;
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    if (std::memchr(buffer, '\0', text.size())) return std::nullopt;
    IpAddress a;
    uint32_t v4 = 0;
    // The IPv4 form takes exactly four decimal parts without leading zeros (no "10.1", no
    // "010.0.0.1", no hexadecimal), as inet_pton reads it.
    if (inet_pton(AF_INET, buffer, &v4) == 1) return IpAddress::FromIpv4(v4);
    if (inet_pton(AF_INET6, buffer, a.bytes.data()) == 1) return a;
    return std::nullopt;
}

bool Cidr::Contains(const IpAddress& address) const {
    const int whole = prefix / 8;
    if (!std::equal(network.bytes.begin(), network.bytes.begin() + whole, address.bytes.begin()))
        return false;
    const int rest = prefix % 8;
    if (rest == 0) return true;
    const uint8_t mask = static_cast<uint8_t>(0xff << (8 - rest));
    return (network.bytes[whole] & mask) == (address.bytes[whole] & mask);
}

std::string Cidr::Text() const {
    const bool v4 = network.IsIpv4() && prefix >= 96;
    const int shown = v4 ? prefix - 96 : prefix;
    if (prefix == 128) return network.Text();
    return network.Text() + "/" + std::to_string(shown);
}

RuleListResult ParseRuleList(std::string_view text) {
    RuleListResult result;
    if (TrimBlanks(text).empty()) {
        result.error = "the list is empty";
        return result;
    }
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string_view entry = TrimBlanks(text.substr(start, comma - start));
        if (entry.empty()) {
            result.rules.clear();
            result.error = "the list has an empty entry";
            return result;
        }
        std::optional<Cidr> cidr = ParseEntry(entry, result.error);
        if (!cidr) {
            result.rules.clear();
            return result;
        }
        result.rules.push_back(*cidr);
        if (comma == std::string_view::npos) return result;
        start = comma + 1;
    }
}

namespace {

bool InList(const std::optional<std::vector<Cidr>>& list, const IpAddress& client) {
    if (!list) return true;
    return std::any_of(list->begin(), list->end(),
                       [&](const Cidr& c) { return c.Contains(client); });
}

}  // namespace

bool AccessPolicy::MayConnect(const IpAddress& client) const { return InList(allow, client); }

bool AccessPolicy::MayWrite(const IpAddress& client) const {
    return MayConnect(client) && InList(writeAllow, client);
}

ServerAccessResult ParseServerAccess(const AccessSettings& settings,
                                     const std::array<std::string_view, 3>& what) {
    ServerAccessResult result;
    const std::string_view listen = TrimBlanks(settings.listen);
    if (!listen.empty()) {
        result.access.listen = ParseIpAddress(listen);
        if (!result.access.listen) {
            result.error = std::string(what[0]) + ": \"" + std::string(listen) +
                           "\" is not an IPv4 or IPv6 address of this computer";
            return result;
        }
    }
    const std::pair<const std::string*, std::optional<std::vector<Cidr>>*> lists[] = {
        {&settings.allow, &result.access.policy.allow},
        {&settings.writeAllow, &result.access.policy.writeAllow}};
    for (size_t i = 0; i < 2; ++i) {
        if (lists[i].first->empty()) continue;
        RuleListResult parsed = ParseRuleList(*lists[i].first);
        if (!parsed) {
            result.error = std::string(what[i + 1]) + ": " + parsed.error;
            return result;
        }
        *lists[i].second = std::move(parsed.rules);
    }
    return result;
}

bool PerClientLimiter::ShouldLog(const IpAddress& client, int64_t nowMs) {
    auto known = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& e) { return e.client == client; });
    if (known != entries_.end()) {
        if (nowMs - known->loggedAt < intervalMs_) return false;
        known->loggedAt = nowMs;
        return true;
    }
    // Clients last logged a whole interval ago need no remembering any more.
    std::erase_if(entries_, [&](const Entry& e) { return nowMs - e.loggedAt >= intervalMs_; });
    if (entries_.size() >= capacity_) return false;
    entries_.push_back({client, nowMs});
    return true;
}

}  // namespace tsr
