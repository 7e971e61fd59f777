// The web server's listen address and access lists, kept in the user's profile for the designer.
#pragma once

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

}  // namespace tsr::designer
