// Fuzzes what sign-in reads from outside: the Authorization header of a request and the lines
// of a users file. Whatever the input, the parsers end, never read past it, and what they give
// back holds: credentials within their bound, users with valid names and roles that format back
// to the same users.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "webserver/sign_in.h"
#include "webserver/websocket.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    if (auto credentials = tsr::ParseBasicAuthorization(input)) {
        Check(credentials->user.size() + credentials->password.size() < 1024);
        Check(credentials->user.find(':') == std::string::npos);
    }
    if (auto decoded = tsr::Base64Decode(input)) {
        // What decodes encodes back to the same text.
        Check(tsr::Base64Encode(*decoded) == input);
    }
    const tsr::UsersResult users = tsr::ParseUsers(input);
    if (users) {
        for (const tsr::User& u : users.users) Check(tsr::IsValidUserName(u.name));
        const tsr::UsersResult again = tsr::ParseUsers(tsr::FormatUsers(users.users));
        Check(again && again.users.size() == users.users.size());
        for (size_t i = 0; i < users.users.size(); ++i) {
            Check(again.users[i].name == users.users[i].name);
            Check(again.users[i].role == users.users[i].role);
            Check(again.users[i].hash == users.users[i].hash);
        }
    } else {
        Check(users.users.empty() && users.error.rfind("line ", 0) == 0);
    }
    return 0;
}
