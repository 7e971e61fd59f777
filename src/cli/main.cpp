// tessora-cli: the designer's core without a window.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "model/catalogue.h"
#include "model/catalogue_json.h"
#include "model/project_file.h"

namespace {

const char kUsage[] =
    "usage: tessora-cli COMMAND ...\n"
    "  new FILE.tsr [--force]   write a new project (--force replaces an existing file)\n"
    "  show PROJECT             print the object tree (serial, type key, id or name)\n"
    "  catalogue                print the object catalogue as JSON\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

int Error(const std::string& message) {
    std::fprintf(stderr, "tessora-cli: %s\n", message.c_str());
    return 1;
}

// Makes the project's working directory; prints why when it cannot.
bool StartProject(tsr::Project& project) {
    int rc = project.Start();
    if (rc == 0) return true;
    Error("cannot create a working directory in the temporary directory (code " +
          std::to_string(rc) + ")");
    return false;
}

int CommandNew(const std::vector<std::string>& args) {
    std::string path;
    bool force = false;
    for (const std::string& a : args) {
        if (a == "--force") {
            force = true;
        } else if (path.empty()) {
            path = a;
        } else {
            return Usage();
        }
    }
    if (path.empty()) return Usage();
    struct stat st;
    if (!force && stat(path.c_str(), &st) == 0)
        return Error(path + " already exists (use --force to replace it)");
    tsr::Project project;
    if (!StartProject(project)) return 1;
    tsr::Status s = project.Save(path);
    return s ? 0 : Error(s.message + " : " + path);
}

int CommandShow(const std::vector<std::string>& args) {
    if (args.size() != 1) return Usage();
    tsr::Project project;
    if (!StartProject(project)) return 1;
    tsr::Status s = project.Load(args[0]);
    if (!s) return Error(s.message);
    int serial = 0;
    project.document().ForEachObject([&](pugi::xml_node n, int depth) {
        const char* label = n.attribute("id") ? n.attribute("id").value()
                                              : n.attribute("name").value();
        std::printf("%4d  %*s%s%s%s\n", serial++, depth * 2, "", n.name(), *label ? "  " : "",
                    label);
        return true;
    });
    return 0;
}

int CommandCatalogue(const std::vector<std::string>& args) {
    if (!args.empty()) return Usage();
    std::fputs(tsr::CatalogueToJson().c_str(), stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "new") return CommandNew(args);
    if (command == "show") return CommandShow(args);
    if (command == "catalogue") return CommandCatalogue(args);
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return Usage();
}
