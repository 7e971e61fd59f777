// The Unity / M340 simulator as a program: listens (127.0.0.1, a free port unless told), prints
// its port as the first line of stdout, then takes commands on stdin, one a line:
//   set NAME VALUE   sets a variable ("set %MW0 42"); answers "ok" or "error"
//   get NAME         answers the variable's value, or "error"
//   quit             ends the program
// It runs on after stdin ends, until SIGINT or SIGTERM.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "unity_sim.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: unity_sim [--port N] [--listen ADDR] [--set NAME=VALUE]...\n");
    return 2;
}

// Runs one command line; false for "quit".
bool RunCommand(tsr::sims::UnitySim& sim, const std::string& line) {
    std::istringstream in(line);
    std::string verb, name, value;
    in >> verb >> name >> value;
    if (verb == "quit") return false;
    if (verb == "set") {
        std::cout << (sim.Set(name, value) ? "ok" : "error") << std::endl;
    } else if (verb == "get") {
        std::cout << sim.Get(name).value_or("error") << std::endl;
    } else if (!verb.empty()) {
        std::cout << "error" << std::endl;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string address = "127.0.0.1";
    long port = 0;
    tsr::sims::UnitySim sim;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string next = argv[++i];
        if (arg == "--port") {
            char* end = nullptr;
            port = std::strtol(next.c_str(), &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return Usage();
        } else if (arg == "--listen") {
            address = next;
        } else if (arg == "--set") {
            const size_t eq = next.find('=');
            if (eq == std::string::npos || !sim.Set(next.substr(0, eq), next.substr(eq + 1)))
                return Usage();
        } else {
            return Usage();
        }
    }
    if (!sim.Start(address, static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "unity_sim: cannot listen on %s:%ld\n", address.c_str(), port);
        return 1;
    }
    std::cout << sim.port() << std::endl;
    for (std::string line; std::getline(std::cin, line);)
        if (!RunCommand(sim, line)) return 0;
    for (;;) pause();  // stdin ended: serve until a signal ends the program
}
