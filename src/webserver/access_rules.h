// Who may reach the web server, and whose write items it carries out: client addresses, address
// blocks (CIDR) and the lists of them given on the command line or in the profile. Pure: parsing
// and matching only, no socket.
//
// Grammar of a rule list (blanks around an entry are ignored):
//
//   list    = entry *( "," entry )
//   entry   = address [ "/" prefix ]
//   address = IPv4 dotted quad (192.168.1.0) | IPv6 text form (fd00::, ::1)
//   prefix  = decimal 0..32 for IPv4, 0..128 for IPv6; no sign, no leading zero;
//             without it the entry names one address (/32 or /128)
//
// The address of an entry may have no bit set past its prefix (192.168.1.0/24, not
// 192.168.1.7/24): such an entry is refused, so that a typing error cannot widen or narrow a
// rule unnoticed. An empty list, an empty entry, a host name or an IPv6 zone ("%eth0") is
// refused as well.
//
// IPv4 addresses are held as IPv4-mapped IPv6 addresses (::ffff:a.b.c.d), so an IPv4 rule also
// matches an IPv4 client that reaches an IPv6 socket, and ::/0 matches every client.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsr {

// One IPv4 or IPv6 address, in network byte order; IPv4 as ::ffff:a.b.c.d.
struct IpAddress {
    std::array<uint8_t, 16> bytes{};

    // The IPv4 address `networkOrder` (as in sockaddr_in::sin_addr).
    static IpAddress FromIpv4(uint32_t networkOrder);
    // True for an IPv4 (IPv4-mapped) address.
    bool IsIpv4() const;
    // "%u.%u.%u.%u" for IPv4, the shortest IPv6 text form otherwise.
    std::string Text() const;
    bool operator==(const IpAddress&) const = default;
    auto operator<=>(const IpAddress&) const = default;
};

// The address written as `text` (an IPv4 dotted quad or an IPv6 text form, nothing else: no
// brackets, no port, no zone, no host name); nullopt when it is none of these.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// An address block: every address whose first `prefix` bits (counted on the 128-bit form)
// equal those of `network`.
struct Cidr {
    IpAddress network;
    int prefix = 128;

    bool Contains(const IpAddress& address) const;
    // The block as written: "10.0.0.0/8", "fd00::/8", or the bare address for one address.
    std::string Text() const;
    bool operator==(const Cidr&) const = default;
};

// A parsed list, or why it was refused (an English sentence naming the faulty entry).
struct RuleListResult {
    std::vector<Cidr> rules;
    std::string error;  // empty on success
    explicit operator bool() const { return error.empty(); }
};

// The list written as `text` (grammar above). Never an empty list on success.
RuleListResult ParseRuleList(std::string_view text);

// The two lists the server applies. A list that is absent allows every client.
struct AccessPolicy {
    std::optional<std::vector<Cidr>> allow;       // who may connect
    std::optional<std::vector<Cidr>> writeAllow;  // whose write items are carried out

    // True when `client` is inside `allow` (or no `allow` is set).
    bool MayConnect(const IpAddress& client) const;
    // True when `client` may connect and is inside `writeAllow` (or no `writeAllow` is set).
    bool MayWrite(const IpAddress& client) const;
    // True when neither list is set: every client may connect and write.
    bool AllowsEveryone() const { return !allow && !writeAllow; }
};

// The listen address, the two lists, and where they come from, as given by the user: each text
// empty when not given. `listen` is one address (not a list); "" means every IPv4 interface.
struct AccessSettings {
    std::string listen;
    std::string allow;
    std::string writeAllow;
};

// What AccessSettings say, checked.
struct ServerAccess {
    std::optional<IpAddress> listen;  // nullopt: every IPv4 interface
    AccessPolicy policy;
};

// The checked settings, or why one is refused: `error` names the setting (`what` gives the
// three names, e.g. {"--listen", "--allow", "--write-allow"}) and the faulty entry.
struct ServerAccessResult {
    ServerAccess access;
    std::string error;  // empty on success
    explicit operator bool() const { return error.empty(); }
};
ServerAccessResult ParseServerAccess(const AccessSettings& settings,
                                     const std::array<std::string_view, 3>& what);

// Limits the log lines about one client to one per `interval`: ShouldLog answers true for the
// first event of a client and then again once `interval` has passed since its last logged
// event. At most `capacity` clients are remembered; when all of them were logged within the
// interval, a new client is not logged (an address flood cannot grow memory or the log).
class PerClientLimiter {
public:
    explicit PerClientLimiter(int64_t intervalMs = 60000, size_t capacity = 1024)
        : intervalMs_(intervalMs), capacity_(capacity) {}
    // `nowMs` is a monotonic time in milliseconds.
    bool ShouldLog(const IpAddress& client, int64_t nowMs);

private:
    struct Entry {
        IpAddress client;
        int64_t loggedAt;
    };
    int64_t intervalMs_;
    size_t capacity_;
    std::vector<Entry> entries_;
};

}  // namespace tsr
