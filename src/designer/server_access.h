// The web server's listen address and access lists, kept in the user's profile for the designer.
#pragma once

#include <chrono>
#include <string>

#include "webserver/access_rules.h"

namespace tsr {
class Profile;
}

namespace tsr::designer {

// "weblisten", "weballow" and "webwriteallow" of the section "Tessora", each empty or missing
// when not set (every IPv4 address; everyone may connect; everyone may write). On a malformed
// value `error` holds the message to show (which setting, which entry, in which file) and the
// server is to stay stopped.
ServerAccessResult LoadServerAccess(const Profile& profile);

// "webmaxage" of the section "Tessora": how old, in milliseconds, a device value may be when it
// answers a read from memory; the default (200) when missing. A malformed value gives the
// default, and `error` the message to log.
std::chrono::milliseconds LoadMaxAge(const Profile& profile, std::string* error);

}  // namespace tsr::designer
