// tessora-cli user add|remove|list: the users file of `serve --users`.
#include "cli/users.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "webserver/sign_in.h"

namespace tsr::cli {
namespace {

constexpr size_t kMinPassword = 8;

int Fail(const std::string& text) {
    std::fprintf(stderr, "tessora-cli: %s\n", text.c_str());
    return 1;
}

// One line typed on the terminal without echo; nullopt when there is no terminal.
std::optional<std::string> AskHidden(const char* prompt) {
    FILE* tty = std::fopen("/dev/tty", "r+");
    if (!tty) return std::nullopt;
    std::fputs(prompt, tty);
    std::fflush(tty);
    termios old{};
    const int fd = fileno(tty);
    const bool terminal = tcgetattr(fd, &old) == 0;
    if (terminal) {
        termios quiet = old;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';) line += static_cast<char>(c);
    if (terminal) tcsetattr(fd, TCSAFLUSH, &old);
    std::fputs("\n", tty);
    std::fclose(tty);
    return line;
}

// The users of `path`, or none when it does not exist yet.
bool ReadUsers(const std::string& path, bool mayBeMissing, std::vector<User>* users,
               std::string* error) {
    struct stat st;
    if (mayBeMissing && stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
    UsersResult r = LoadUsersFile(path);
    if (!r) {
        *error = r.error;
        return false;
    }
    *users = std::move(r.users);
    return true;
}

}  // namespace

const char kUserUsage[] =
    "  user add FILE NAME --role viewer|operator [--password-stdin]\n"
    "                           add NAME to the users file of serve --users (or change its role\n"
    "                           and password); the password is asked twice on the terminal, or\n"
    "                           read as one line from standard input\n"
    "  user remove FILE NAME    remove NAME from the users file\n"
    "  user list FILE           print the users and their roles\n";

int CommandUser(std::vector<std::string> args) {
    bool fromStdin = false;
    std::erase_if(args, [&](const std::string& a) { return a == "--password-stdin" && (fromStdin = true); });
    std::string role;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--role") continue;
        if (i + 1 >= args.size()) return Fail("--role needs a value: viewer or operator");
        role = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        break;
    }
    for (const std::string& a : args)
        if (a.rfind("--", 0) == 0) return Fail("unknown option " + a);
    if (args.empty()) return Fail("user: say add, remove or list");
    const std::string verb = args[0];
    std::string error;
    std::vector<User> users;
    if (verb == "list") {
        if (args.size() != 2) return Fail("usage: tessora-cli user list FILE");
        if (!ReadUsers(args[1], false, &users, &error)) return Fail(error);
        for (const User& u : users) std::printf("%s %s\n", u.name.c_str(), RoleText(u.role));
        return 0;
    }
    if (verb == "remove") {
        if (args.size() != 3) return Fail("usage: tessora-cli user remove FILE NAME");
        if (!ReadUsers(args[1], false, &users, &error)) return Fail(error);
        const size_t before = users.size();
        std::erase_if(users, [&](const User& u) { return u.name == args[2]; });
        if (users.size() == before) return Fail("no user " + args[2] + " in " + args[1]);
        error = SaveUsersFile(args[1], users);
        if (!error.empty()) return Fail(error);
        std::fprintf(stderr, "Removed %s from %s\n", args[2].c_str(), args[1].c_str());
        return 0;
    }
    if (verb != "add") return Fail("user: say add, remove or list, not " + verb);
    if (args.size() != 3) return Fail("usage: tessora-cli user add FILE NAME --role viewer|operator");
    const std::optional<Role> r = ParseRole(role);
    if (!r) return Fail("--role must be viewer or operator");
    if (!IsValidUserName(args[2]))
        return Fail("a user name is 1 to 64 characters, without ':' or blanks");
    if (!ReadUsers(args[1], true, &users, &error)) return Fail(error);
    std::string password;
    if (fromStdin) {
        if (!std::getline(std::cin, password)) return Fail("no password on standard input");
        if (!password.empty() && password.back() == '\r') password.pop_back();
    } else {
        std::optional<std::string> first = AskHidden("Password: ");
        if (!first) return Fail("no terminal to ask the password on: use --password-stdin");
        std::optional<std::string> again = AskHidden("Password again: ");
        if (!again || *again != *first) return Fail("the two passwords differ; nothing changed");
        password = *first;
    }
    if (password.size() < kMinPassword)
        return Fail("a password has at least " + std::to_string(kMinPassword) + " characters");
    const std::string hash = HashPassword(password);
    if (hash.empty()) return Fail("the password cannot be hashed (out of memory?)");
    auto it = std::find_if(users.begin(), users.end(), [&](const User& u) { return u.name == args[2]; });
    const bool changed = it != users.end();
    if (changed) {
        it->role = *r;
        it->hash = hash;
    } else {
        users.push_back({args[2], *r, hash});
    }
    error = SaveUsersFile(args[1], users);
    if (!error.empty()) return Fail(error);
    std::fprintf(stderr, "%s %s (%s) in %s\n", changed ? "Changed" : "Added", args[2].c_str(),
                 RoleText(*r), args[1].c_str());
    return 0;
}

}  // namespace tsr::cli
