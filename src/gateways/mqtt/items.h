// What an MQTT link's items, a broker address and the published topics are made of, without
// sockets: parsing and building only, each function total over any input.
//
// An item names the gateway, then the topic, then optionally a field of a JSON payload:
//   "mq1/tele/plug/SENSOR|ENERGY.Power"   gateway mq1, topic "tele/plug/SENSOR", field path
//                                          ENERGY → Power
//   "mq1/tessora/demo=12"                 a write: publish "12" to "tessora/demo"
// The page's address function puts "MQ<id>/" before the topic, so the first '/' always ends
// the gateway id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsr::mqtt {

// The largest payload kept for a topic; larger ones are dropped when they arrive.
constexpr size_t kMaxPayload = 64 * 1024;
// The longest topic the protocol allows (its length travels in two bytes).
constexpr size_t kMaxTopic = 65535;
// JSON nested deeper than this is not looked into (a field of it reads "[err]").
constexpr int kMaxJsonDepth = 64;

// A read item, split.
struct ReadItem {
    std::string gateway;  // "" when the item has no gateway part
    std::string topic;
    std::vector<std::string> field;  // the dotted path, empty for the whole payload
};

// A read item, or nullopt when it is not one: an empty topic, a wildcard ('+' or '#') anywhere
// in the topic, a NUL or a topic over kMaxTopic bytes, an empty field segment ("a|", "a|x..y").
std::optional<ReadItem> ParseReadItem(std::string_view item);

// A write item "gateway/topic=value", split at its first '=' (a value may hold further ones).
struct WriteItem {
    std::string gateway;
    std::string topic;
    std::string value;
};
// Nullopt when there is no '=' or the topic is not one a client may publish to (empty,
// wildcards, NUL, too long).
std::optional<WriteItem> ParseWriteItem(std::string_view item);

// True when `topic` may be subscribed to or published to as it is: 1 to kMaxTopic bytes, no
// '+', '#' or NUL.
bool IsPlainTopic(std::string_view topic);

// The text a page gets for a payload: the whole payload, or the field `path` of a JSON payload
// (a number as JSON writes it, a string's characters, true/false as 1/0). Nullopt when the
// payload is not valid JSON, is nested deeper than kMaxJsonDepth, or has no such field, or the
// field is null, an object or an array. A ';' (which separates the values of one answer) reads
// ',', and control characters read as blanks.
std::optional<std::string> PayloadText(std::string_view payload,
                                       const std::vector<std::string>& path);

// The item as the browser sent it, with the percent escapes a browser adds to a URL path
// undone: those of a blank, '"', '<', '>', '`', '{', '}', '|', '^' and of bytes from 0x80 up
// (Chromium writes "a|b" as "a%7Cb", so the field bar arrives escaped). Every other
// '%' stays as it is, so "%MW10" and an escaped "%2F" in a published topic keep their meaning.
std::string UndoBrowserEscapes(std::string_view item);

// A broker address "mqtt://host:port" or "mqtts://host:port" with an optional "/prefix" after it
// (the publishing address names the topic prefix there). The port defaults to 1883, or 8883 for
// mqtts; a host may be an IPv6 address in brackets.
struct BrokerUrl {
    bool tls = false;
    std::string host;
    int port = 1883;
    std::string prefix;  // without its leading '/', "" when none
};
// Nullopt when the scheme is neither, the host is empty, the port is not 1 to 65535, or the
// prefix holds a wildcard, a NUL, or starts or ends with '/'.
std::optional<BrokerUrl> ParseBrokerUrl(std::string_view url);
// "host:port" as a log line shows it ("[::1]:1883").
std::string EndpointText(const BrokerUrl& url);

// The topic a publishing server gives an item of a family: "PREFIX/FAMILY/ITEM", with '/', '+'
// and '#' in the item written %2F, %2B, %23 so that the item stays one topic level.
std::string PublishedTopic(std::string_view prefix, std::string_view family, std::string_view item);

// A client identifier for a gateway that gives none: "tessora-" and 12 hex digits of `seed`.
std::string GeneratedClientId(uint64_t seed);

}  // namespace tsr::mqtt
