// Fuzzes what an MQTT link's items and the broker's payloads are made into: the input's first
// byte splits it into an item (as a page sends it) and a payload (as a broker delivers it). An
// item that parses must give a plain topic and field segments that are not empty; the text made
// of a payload must hold no ';' and no control character (the answer separates values with ';');
// a broker address that parses must have a host and a port in range; a published topic must
// keep the item in one level.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateways/mqtt/items.h"

namespace {

using namespace tsr::mqtt;

void Check(bool condition) {
    if (!condition) abort();
}

void CheckAnswerText(const std::string& text) {
    for (char c : text) Check(c != ';' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t split = data[0] % (input.size() + 1);
    const std::string_view item = input.substr(0, split), payload = input.substr(split);

    const std::string decoded = UndoBrowserEscapes(item);
    Check(decoded.size() <= item.size());
    if (auto read = ParseReadItem(decoded)) {
        Check(IsPlainTopic(read->topic));
        for (const std::string& segment : read->field) Check(!segment.empty());
        if (auto text = PayloadText(payload, read->field)) CheckAnswerText(*text);
    }
    if (auto write = ParseWriteItem(decoded)) Check(IsPlainTopic(write->topic));
    if (auto url = ParseBrokerUrl(item)) {
        Check(!url->host.empty() && url->port >= 1 && url->port <= 65535);
        Check(url->prefix.empty() || IsPlainTopic(url->prefix));
        (void)EndpointText(*url);
    }
    const std::string topic = PublishedTopic("p", "uni", item);
    Check(topic.find_first_of("+#") == std::string::npos);
    Check(topic.find('/', 6) == std::string::npos);  // "p/uni/" then the item, one level
    return 0;
}
