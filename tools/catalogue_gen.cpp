// Build tool: turns resources/catalogue.json into the C++ table of the object catalogue.
// Usage: catalogue_gen INPUT.json OUTPUT.cpp
// Fails (exit 1) when the file breaks a rule of the catalogue: ids in order, unique keys,
// known kinds and parents, and the field limits.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Literal(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 32 || c >= 127) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\%03o", c);  // three octal digits always end
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int Fail(const std::string& why) {
    std::cerr << "catalogue_gen: " << why << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return Fail("usage: catalogue_gen INPUT.json OUTPUT.cpp");
    std::ifstream in(argv[1]);
    if (!in) return Fail(std::string("cannot read ") + argv[1]);
    nlohmann::json types;
    try {
        in >> types;
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    const std::map<std::string, int> kinds = {{"Text", 0},   {"Boolean", 1}, {"UInt16", 2},
                                              {"Real", 3},   {"Choice", 4},  {"Colour", 5},
                                              {"UInt32", 6}, {"Template", 7}, {"Script", 8}};
    if (!types.is_array() || types.size() != 54) return Fail("expected 54 types");
    std::map<std::string, int> idOfKey;
    for (size_t i = 0; i < types.size(); ++i) {
        const auto& t = types[i];
        if (t.at("id").get<int>() != static_cast<int>(i)) return Fail("ids out of order");
        std::string key = t.at("key");
        if (key.size() >= 64) return Fail("key too long: " + key);
        if (!idOfKey.emplace(key, static_cast<int>(i)).second) return Fail("duplicate " + key);
    }

    std::ostringstream out;
    out << "// Generated from resources/catalogue.json by tools/catalogue_gen. Do not edit.\n"
        << "#include \"model/catalogue.h\"\n\nnamespace tsr {\nnamespace {\n\n";
    for (size_t i = 0; i < types.size(); ++i) {
        const auto& t = types[i];
        const auto& parents = t.at("parents");
        if (parents.size() > 127) return Fail("too many parents");
        out << "const int kParents" << i << "[] = {";
        for (const auto& p : parents) {
            auto it = idOfKey.find(p.get<std::string>());
            if (it == idOfKey.end()) return Fail("unknown parent " + p.get<std::string>());
            out << it->second << ", ";
        }
        out << "-1};\n";
        const auto& props = t.at("properties");
        if (props.empty() || props.size() > 32) return Fail("bad property count");
        std::set<std::string> seen;
        out << "const PropertyDef kProperties" << i << "[] = {\n";
        for (const auto& p : props) {
            std::string kind = p.at("kind");
            if (!kinds.count(kind)) return Fail("unknown kind " + kind);
            std::string key = p.at("key"), label = p.at("label"), def = p.at("default"),
                        desc = p.at("description"), opts = p.at("options");
            if (!seen.insert(key).second) return Fail("duplicate property " + key);
            if (key.size() >= 64 || label.size() >= 128 || def.size() >= 2048 ||
                desc.size() >= 512 || opts.size() >= 64)
                return Fail("field too long in " + t.at("key").get<std::string>() + "." + key);
            out << "    {PropertyKind::" << kind << ", " << Literal(key) << ", " << Literal(label)
                << ",\n     " << Literal(def) << ",\n     " << Literal(desc) << ", "
                << Literal(opts) << "},\n";
        }
        out << "};\n\n";
    }
    out << "}  // namespace\n\nextern const ObjectType kCatalogue[kTypeCount];\n"
        << "const ObjectType kCatalogue[kTypeCount] = {\n";
    for (size_t i = 0; i < types.size(); ++i) {
        const auto& t = types[i];
        out << "    {" << i << ", " << Literal(t.at("key")) << ", " << Literal(t.at("name"))
            << ", kParents" << i << ", " << t.at("parents").size() << ", kProperties" << i
            << ", " << t.at("properties").size() << "},\n";
    }
    out << "};\n\n}  // namespace tsr\n";

    std::ofstream file(argv[2], std::ios::binary);
    file << out.str();
    return file.good() ? 0 : Fail(std::string("cannot write ") + argv[2]);
}
