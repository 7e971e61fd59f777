#include "generator/generator.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/strings.h"
#include "base/text.h"
#include "generator/link_scripts.h"
#include "generator/template.h"
#include "model/catalogue.h"
#include "platform/fs.h"

namespace tsr {
namespace {

// Starts the polling of the linked widgets. It waits until the document is ready, that is until
// jQuery Mobile has enhanced the widgets: an answer that arrived earlier would find no widget to
// refresh, and the failed refresh would leave the widget marked as being changed, so that the
// next click anywhere wrote its unset value to the device.
constexpr const char* kStartScripts = "$(document).ready(function()\n{\n%s\n});\n";

// The link state of the read functions. Every read callback asks it whether its answer is a
// value: an error text of a gateway (it begins with "["), a value the answer does not hold
// (undefined) and a failed request (no answer at all) are not, and then the widget keeps its
// last value and is marked as having no communication (class, tooltip) until the next value.
// The mark goes on the widget's visible box: the plot's own div, else the element that the
// page libraries wrap around the input (switch, text input, slider, check box, radio, knob).
// An input or select of a page that jQuery Mobile has not created yet (it creates a page when
// it is first shown) takes no value: refreshing a widget that does not exist yet throws, which
// would end its read loop. It reads on, and shows the next value once its page is shown.
constexpr const char* kLinkState =
    "<link rel=\"stylesheet\" href=\"tsrlink.css\" />\n"
    "<script>function tsrlinkstate(s,v){var w=$(s),lost=v===undefined||v===null||"
    "String(v).charAt(0)=='[';if(w.is('input,select')&&!w.closest('[data-role=page]')."
    "hasClass('ui-page')) return false;if(!w.is('div')) w=w.parent();w.toggleClass('tsrnocomm',"
    "lost).attr('title',lost?'No communication':null);return !lost;}</script>\n";

// What the document is reserved per object of the project: more than most objects write.
constexpr size_t kReservedBytesPerObject = 384;

// Types whose closing template is written after their children.
bool WritesClosingTemplate(std::string_view key) {
    static constexpr std::string_view kKeys[] = {
        "page",  "header", "footer", "button", "switch", "hgroup",    "vgroup",
        "checkb", "radiob", "form",  "label",  "textinput", "slider", "div",
        "paco",  "caco",   "plist",  "clist",  "textarea",  "iframe"};
    for (std::string_view k : kKeys) {
        if (k == key) return true;
    }
    return false;
}

// Types that write their opening template and collect their script templates.
bool IsGenericType(int type) {
    return type != kTypeScript && type != kTypeSpan && type != kTypeArduinoTableLink &&
           !IsGatewayType(type) && !IsLinkType(type);
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

void copyDirectoryTree(const std::string& source, const std::string& target) {
    mkdir(target.c_str(), 0755);
    for (const std::string& name : ListDirectory(source)) {
        const std::string from = JoinPath(source, name);
        const std::string to = JoinPath(target, name);
        struct stat st;
        if (stat(from.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (name[0] != '.') copyDirectoryTree(from, to);
            continue;
        }
        if (!S_ISREG(st.st_mode) || Exists(to)) continue;  // copied once, later edits survive
        std::string data;
        if (ReadFile(from, data)) WriteFile(to, data);
    }
}

Generator::Generator(Project& project, LogSink& log, GenerationHooks& hooks,
                     std::string libraryDirectory)
    : project_(project), log_(log), hooks_(hooks), libraryDirectory_(std::move(libraryDirectory)) {}

const std::string& Generator::outputDirectory() const {
    return outputDirectory_.empty() ? project_.workingDirectory().outputDirectory()
                                    : outputDirectory_;
}

std::string Generator::ExpandedProperty(pugi::xml_node object, int type, const char* key) {
    std::string text = GetPropertyWithDefault(object, key, type);
    const ExpandOutcome outcome =
        expandTemplate(text, object, project_.document().typeCounters(), context_);
    // A text whose expansion hit a bound is left out whole rather than pasted half expanded.
    if (outcome == ExpandOutcome::Limited || !context_.budget.ChargeOutput(text.size())) {
        const char* id = object.attribute("id").value();
        context_.budget.LeftOut(std::string(key) + " (" + object.name() + (*id ? std::string(" ") + id : std::string()) + ")");
        return {};
    }
    return text;
}

void Generator::EmitChildren(pugi::xml_node object, int type, std::string& out) {
    for (pugi::xml_node child = object.first_child(); child; child = child.next_sibling())
        emitSpan(child, out);
    if (type == kTypeCaco) out += ExpandedProperty(object, type, "htmlm");
    for (pugi::xml_node child = object.first_child(); child; child = child.next_sibling())
        emitObject(child, type, object, out);
}

int Generator::emitObject(pugi::xml_node object, int parentType, pugi::xml_node parent,
                          std::string& out) {
    const int type = ObjectTypeOf(object);
    if (type < 0 || type == kTypeSpan || type == kTypeArduinoTableLink) return 0;
    if (IsGenericType(type)) {
        if (type == kTypePage) context_.currentPageName = GetProperty(object, "name");
        context_.seriesCounter = 0;
        out += ExpandedProperty(object, type, "htmlh");
        // The panels' own look, after the theme's style sheet of the project's template.
        if (type == kTypeProject) out += "<link rel=\"stylesheet\" href=\"tsrpanel.css\" />\n";
        static const char* const kScriptKeys[] = {"script0", "script1", "script2",
                                                  "script3", "script4", "script5"};
        for (int k = 0; k < 6; ++k) {
            if (FindPropertyByKey(type, kScriptKeys[k]) < 0) continue;
            std::string text = ExpandedProperty(object, type, kScriptKeys[k]);
            if (k == 1 && parentType == kTypeKnob) {
                AppendKnobOption(context_, text);
            } else {
                context_.scriptText[static_cast<size_t>(k)] += text;
            }
        }
    } else if (type == kTypeScript) {
        out += "<script>" + GetProperty(object, "script") + "</script>";
    } else if (IsGatewayType(type)) {
        EmitGateway(type, object, s7Library_, context_);
    } else if (IsLinkType(type)) {
        if (context_.gatewayIds.count(GetProperty(object, "gatewayid")) == 0) {
            EmitOrphanLink(type, object, parentType, parent, context_);
        } else {
            EmitLink(type, object, parentType, parent, context_, out);
        }
    }
    EmitChildren(object, type, out);
    const std::string_view key = object.name();
    if (type == kTypeProject) {
        context_.documentEnd = ExpandedProperty(object, type, "htmlf");
    } else if (WritesClosingTemplate(key)) {
        out += ExpandedProperty(object, type, "htmlf");
    } else if (type == kTypeKnob) {
        context_.scriptText[1] += "})});\n";
    }
    return 0;
}

int Generator::emitSpan(pugi::xml_node object, std::string& out) {
    if (ObjectTypeOf(object) != kTypeSpan) return 0;
    out += ExpandedProperty(object, kTypeSpan, "htmlh");
    for (pugi::xml_node child = object.first_child(); child; child = child.next_sibling())
        emitSpan(child, out);
    for (pugi::xml_node child = object.first_child(); child; child = child.next_sibling())
        emitObject(child, kTypeSpan, object, out);
    out += ExpandedProperty(object, kTypeSpan, "htmlf");
    return 0;
}

void Generator::ReadSettings() {
    settings_ = ServerSettings{};
    settings_.webRoot = outputDirectory() + "/";
    pugi::xml_node project = FirstChildElement(project_.document().Root());
    if (strcasecmp(project.name(), "project") != 0) return;
    settings_.port = static_cast<uint16_t>(AtoI(GetPropertyOr(project, "webserverport", "80")));
    settings_.on = AtoI(GetPropertyOr(project, "webserveron", "0")) != 0;
    settings_.debugMessages = AtoI(GetPropertyOr(project, "webdebugmsg", "0")) != 0;
}

std::string Generator::BuildDocument() {
    context_.Reset();
    project_.document().RecountTypes();
    s7Library_.clear();
    ReadFile(JoinPath(libraryDirectory_, "s7wsgateway.js"), s7Library_);

    // The document is reserved at once rather than grown (and copied) by halves: a few hundred
    // bytes per object, and pages of the reserve that the pass does not fill are never touched.
    size_t objects = 0;
    for (unsigned count : project_.document().typeCounters()) objects += count;
    std::string out;
    out.reserve((size_t{1} << 16) + objects * kReservedBytesPerObject);
    pugi::xml_node root = project_.document().Root();
    // Links may come before the gateways they name: the ids are known before anything is emitted.
    project_.document().ForEachObject([this](pugi::xml_node object, int) {
        if (IsGatewayType(ObjectTypeOf(object)))
            context_.gatewayIds.insert(GetProperty(object, "id"));
        return true;
    });
    EmitChildren(root, -1, out);

    const GenerationContext& c = context_;
    AppendFormatted(
        out,
        "<script>var gmu=0;\n$(document).on({'mouseup touchend': function () {%s gmu=0; }});\n"
        "$(document).on({'mousedown touchstart': function () {gmu=1; }});</script>\n",
        {c.mouseUpActions});
    if (!c.shownPageName.empty())
        AppendFormatted(out, "<script>window.location.href = '#%s';</script>\n", {c.shownPageName});
    if (c.linkReads || !c.orphanLinks.empty()) out += kLinkState;
    if (!c.orphanLinks.empty()) out += kOrphanLinkState;
    const auto& s = c.scriptText;
    // The collections are as large as the body for a project of many links: the document grows
    // once for all of them, and each is appended where it goes rather than through a copy.
    size_t tail = c.documentEnd.size() + 512;
    for (const std::string& text : s) tail += text.size();
    out.reserve(out.size() + tail);
    if (!s[0].empty() || !s[1].empty() || !s[2].empty() || !s[3].empty()) {
        out += "<script>";
        for (size_t k = 0; k < 3; ++k) {
            out += s[k];
            out += '\n';
        }
        if (!s[3].empty()) AppendFormatted(out, kStartScripts, {s[3]});
        out += "</script>";
    }
    if (!s[4].empty())
        AppendFormatted(out, "<script>$(document).on(\"pageshow\",function() {%s});</script>\n",
                        {s[4]});
    if (!s[5].empty())
        AppendFormatted(out, "<script>$(document).on(\"pagehide\",function() {%s});</script>\n",
                        {s[5]});
    out += c.documentEnd;
    return out;
}

bool Generator::generateApplication(const std::optional<std::string>& pageName) {
    if (pageName) context_.shownPageName = *pageName;
    ReadSettings();

    // The document is written under a temporary name and renamed into place, so that a browser
    // asking for it meanwhile gets the previous or the new document, never half of one.
    const std::string& outputDir = outputDirectory();
    const std::string finalPath = JoinPath(outputDir, "index.html");
    const std::string tempPath = finalPath + ".new";
    int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    copyDirectoryTree(libraryDirectory_, outputDir);
    std::string document = BuildDocument();
    bool written = WriteAllToFd(fd, document);
    written = close(fd) == 0 && written;
    if (!written || rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        unlink(tempPath.c_str());
        return false;
    }
    documentChanged_ = document != lastDocument_;
    lastDocument_ = std::move(document);  // kept for the next pass's comparison, not copied

    title_ = "Tessora V1.08";
    if (!project_.currentPath().empty()) title_ += " (" + project_.currentPath() + ")";
    if (project_.document().ProjectChanged()) title_ += "*";
    const std::string address = hooks_.ApplyServerSettings(settings_);
    if (!address.empty()) {
        title_ += " Server activated: " + address;
        if (settings_.port != 80) title_ += ":" + std::to_string(settings_.port);
    }
    hooks_.SetTitle(title_);
    log_.LogText("Generate: " + title_, kLogBlue);
    for (const OrphanLink& orphan : context_.orphanLinks) {
        log_.LogText(FormatText(LoadString(kTextLinkWithoutGateway),
                                {orphan.widget, orphan.variable, orphan.gateway}),
                     kLogRed);
    }
    if (context_.budget.exceeded) {
        std::string text = LoadString(kTextGenerationBounded);
        text.replace(text.find("%s"), 2, context_.budget.firstExceeded);
        log_.LogText(text, kLogRed);
    }
    return true;
}

}  // namespace tsr
