#include "generator/link_scripts.h"

#include "generator/template.h"
#include "model/catalogue.h"
#include "model/project_document.h"

namespace tsr {
namespace {

// The values a link's texts are made of.
struct Names {
    std::string w;  // the widget's id, or the group name of a radio button
    std::string g;  // the gateway id
    std::string v;  // the variable
    std::string r;  // the refresh period
    std::string l;  // the table length
    std::string t;  // the S7-1200 variable type
};

Names ReadNames(pugi::xml_node link, int widgetType, pugi::xml_node widget) {
    Names n;
    n.w = GetProperty(widget, widgetType == kTypeRadio ? "name" : "id");
    n.g = GetProperty(link, "gatewayid");
    n.v = GetProperty(link, "variable");
    n.r = GetProperty(link, "refreshperiod");
    n.l = GetProperty(link, "len");
    n.t = GetProperty(link, "type");
    return n;
}

constexpr const char* kDeclaration = "var %schanging=0;";
constexpr const char* kStart = "read%s();";
constexpr const char* kTextFocus = " onfocus=\"%schanging=1;\"";
constexpr const char* kTextBlur = " onblur=\"write%s(); %schanging=0;\"";
constexpr const char* kTextEnter =
    "$('#%s').keyup(function(event){if(event.keyCode==13){write%s();}});\n";
constexpr const char* kSliderChange = " onchange=\"if(%schanging!=2) {%schanging=1;}\"";
constexpr const char* kSliderMouseUp =
    "if(%schanging){$.post(getaddress%s()+'%s='+$('#%s').val(),function(data){%schanging=0; "
    "read%s();});}";
constexpr const char* kTimeOrigin = "ts%s = new Date().getTime() / 1000;";
constexpr const char* kTimeDeclaration = "var ts%s;\r\n";

// Texts of a link served through the integrated web server (and of the Arduino link, which
// The call that starts a read loop, "read<id>();", through the link placeholders as the
// function it calls was: a widget id such as "pl(((length)))x" names the same function in both.
std::string ExpandedStart(const std::string& widgetId, pugi::xml_node link, int widgetType,
                          pugi::xml_node widget, GenerationContext& c) {
    std::string start = FormatText(kStart, {widgetId});
    expandLinkPlaceholders(start, ObjectTypeOf(link), widgetType, link, widget, &c.budget);
    return start;
}

// sends the same requests to its own address function).
void EmitServerLink(int widgetType, const Names& n, pugi::xml_node link, pugi::xml_node widget,
                    bool arduino, GenerationContext& c, std::string& document) {
    const std::string& w = n.w;
    auto& s = c.scriptText;
    switch (widgetType) {
        case kTypeSwitch:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendFormatted(
                s[1],
                "$(function() { $(\"#%s\").slider({'start' : function(){%schanging=1;},'stop' : "
                "function() { var i; if($(\"#%s\").val()=='On') i=\"1\"; else i=\"0\"; "
                "$.post(getaddress%s()+'%s='+i,function(data){%schanging=0; }) }})});\n",
                {w, w, w, n.g, n.v, w});
            AppendFormatted(
                s[2],
                "function read%s(){$.post(getaddress%s()+'%s',function(data){ "
                "if(tsrlinkstate('#%s',data) && %schanging==0) "
                "{$(\"#%s\").val(data=='1'?'On':'Off');  $(\"#%s\").slider('refresh');}})."
                "fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, %s); "
                "})}",
                {w, n.g, n.v, w, w, w, w, w, w, n.r});
            break;
        case kTypeButton:
            AppendFormatted(document, " onclick=\"$.post(getaddress%s()+'%s=1');\"", {n.g, n.v});
            return;  // a button only writes: no read function, no start call
        case kTypeTextInput:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendFormatted(document, kTextFocus, {w});
            AppendFormatted(document, kTextBlur, {w, w});
            AppendFormatted(s[1], kTextEnter, {w, w});
            AppendFormatted(s[1],
                            "function write%s(){$.post(getaddress%s()+'%s='+$('#%s').val());}",
                            {w, n.g, n.v, w});
            AppendFormatted(
                s[2],
                "function read%s(){$.post(getaddress%s()+'%s',function(data){ "
                "if(tsrlinkstate('#%s',data) && %schanging==0) {$(\"#%s\").val(data); }})."
                "fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, "
                "%s);}); }",
                {w, n.g, n.v, w, w, w, w, w, n.r});
            break;
        case kTypeSlider:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendFormatted(document, kSliderChange, {w, w});
            AppendFormatted(c.mouseUpActions, kSliderMouseUp, {w, n.g, n.v, w, w, w});
            if (arduino) {
                AppendFormatted(
                    s[2],
                    "function read%s(){if(%schanging==0){%schanging=2;$.post(getaddress%s()+'%s',"
                    "function(data){if(tsrlinkstate('#%s',data)) {$('#%s').val(data);"
                    "$('#%s').slider('refresh');} %schanging=0;}).fail(function(){"
                    "tsrlinkstate('#%s'); %schanging=0;}).always(function(){setTimeout(read%s, %s);"
                    "});}else setTimeout(read%s, %s);}",
                    {w, w, w, n.g, n.v, w, w, w, w, w, w, w, n.r, w, n.r});
            } else {
                AppendFormatted(
                    s[2],
                    "function read%s(){if(%schanging==0){%schanging=2; $.post(getaddress%s()+'%s',"
                    "function(data){ if(tsrlinkstate('#%s',data)) {$('#%s').val(data); "
                    "$('#%s').slider('refresh');} %schanging=0; }).fail(function(){"
                    "tsrlinkstate('#%s'); %schanging=0;}).always(function(){setTimeout(read%s, %s);"
                    "});}else setTimeout(read%s, %s);  }",
                    {w, w, w, n.g, n.v, w, w, w, w, w, w, w, n.r, w, n.r});
            }
            break;
        case kTypeCheckBox:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendFormatted(
                document,
                " onclick=\"var i; if($('#%s').is(':checked')) i='1'; else i='0'; %schanging=1; "
                "$.post(getaddress%s()+'%s='+i,function(data){%schanging=0; }); \"",
                {w, w, n.g, n.v, w});
            AppendFormatted(
                s[2],
                "function read%s(){$.post(getaddress%s()+'%s',function(data){"
                "if(tsrlinkstate('#%s',data) && %schanging==0) "
                "{var i; if(data=='1') i=true; else i=false; $(\"#%s\").prop('checked',i); "
                "$(\"#%s\").checkboxradio('refresh');}}).fail(function(){tsrlinkstate('#%s');})."
                "always(function(){ setTimeout(read%s, %s); })}",
                {w, n.g, n.v, w, w, w, w, w, w, n.r});
            break;
        case kTypeRadio:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendFormatted(
                s[1],
                "$(function() { $(\"input[name=%s]:radio\").bind({'change' : "
                "function(){%schanging=1; var i=$('input[name=%s]:checked').val(); "
                "$.post(getaddress%s()+'%s='+i,function(data){%schanging=0; }) }})});\n",
                {w, w, w, n.g, n.v, w});
            AppendFormatted(
                s[2],
                "function read%s(){$.post(getaddress%s()+'%s',function(data){ "
                "if(tsrlinkstate('input[name=%s]',data) && %schanging==0) "
                "{$(\"input[name=%s][value=\" + data + \"]\").prop('checked', true); "
                "$(\"input[name=%s]\").checkboxradio('refresh');} }).fail(function(){"
                "tsrlinkstate('input[name=%s]');}).always(function(){ setTimeout(read%s, %s); })}",
                {w, n.g, n.v, w, w, w, w, w, w, n.r});
            break;
        case kTypeKnob:
            AppendFormatted(s[0], kDeclaration, {w});
            AppendKnobOption(
                c, FormatText("'change' : function(){%schanging=1;},'release' : function() { "
                              "$.post(getaddress%s()+'%s='+$(\"#%s\").val(),function(data)"
                              "{%schanging=0; }) }",
                              {w, n.g, n.v, w, w}));
            AppendFormatted(s[2],
                            "function read%s(){$.post(getaddress%s()+'%s',function(data){ "
                            "if(tsrlinkstate('#%s',data) && %schanging==0) "
                            "{$(\"#%s\").val(data).trigger(\"change\");} }).fail(function(){"
                            "tsrlinkstate('#%s');}).always(function(){ setTimeout(read%s, %s); })}",
                            {w, n.g, n.v, w, w, w, w, w, n.r});
            break;
        case kTypePlot: {
            if (arduino) return;  // an Arduino link draws no plot
            AppendFormatted(s[2], kTimeDeclaration, {w});
            // The answer is pushed as a number, as the series link does: the plot scales its
            // axes by comparing the points, and text compares "9" above "10". The plot is drawn
            // again with its axes fitted to the points: a plain replot keeps the bounds of the
            // data it was created with.
            std::string read = FormatText(
                "function read%s(){$.post(getaddress%s()+'%s',function(data){"
                "if(!tsrlinkstate('#%s',data)) return;\r\nif( "
                "typeof(plot(((id)))data[0])!='undefined' && typeof(plot(((id))))!='undefined') "
                "\r\n \r\n{\r\nvar i; \r\ni=(new Date().getTime() / "
                "1000)-ts(((id)));\r\nplot%sdata[0]"
                ".push([i, parseFloat(data)]);  "
                "\r\nif(plot(((id))))\r\n{\r\nif(plot(((id)))data[0].length>"
                "(((length)))) {plot(((id)))data[0].shift();}  plot(((id))).series[0].data "
                "=plot(((id)))data[0]; plot(((id))).replot({resetAxes:true});}}  "
                "}).fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, "
                "%s);}); }",
                {w, n.g, n.v, w, w, w, w, n.r});
            expandLinkPlaceholders(read, ObjectTypeOf(link), widgetType, link, widget, &c.budget);
            s[2] += read;
            AppendFormatted(s[3], kTimeOrigin, {w});
            // The start call names the function as its definition does, placeholders expanded.
            s[3] += ExpandedStart(w, link, widgetType, widget, c);
            c.linkReads = true;
            return;
        }
        default:
            return;
    }
    AppendFormatted(s[3], kStart, {w});
    c.linkReads = true;
}

// The table link of the server gateways: a run of variables shown as one plot series.
void EmitServerTableLink(int widgetType, const Names& n, pugi::xml_node link,
                         pugi::xml_node widget, GenerationContext& c) {
    if (widgetType != kTypePlot) return;
    const std::string& p = n.w;
    std::string read = FormatText(
        "function read%s(){$.post(getaddress%s()+'%s[%s]',function(data){"
        "if(!tsrlinkstate('#%s',data)) return; var i; "
        "plot%sdata[0].length=0; for(i=0;i<%s;i++){plot%sdata[0].push([i, "
        "parseFloat(getsubstr(data,i,','))]); } \r\nif( typeof(plot(((id)))data[0])!='undefined' "
        "&& typeof(plot(((id))))!='undefined') \r\n{  plot(((id))).series[0].data "
        "=plot(((id)))data[0]; plot(((id))).replot({resetAxes:true});}  "
        "}).fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, %s);}); }",
        {p, n.g, n.v, n.l, p, p, n.l, p, p, p, n.r});
    expandLinkPlaceholders(read, ObjectTypeOf(link), widgetType, link, widget, &c.budget);
    c.scriptText[2] += read;
    c.scriptText[3] += ExpandedStart(p, link, widgetType, widget, c);  // else never read
    c.linkReads = true;
}

// Texts of a link to an S7-1200 controller's own web server. Every text goes through the link
// placeholders unless it is shared with the server links.
void EmitS71200Link(int widgetType, const Names& n, pugi::xml_node link, pugi::xml_node widget,
                    GenerationContext& c, std::string& document) {
    const int linkType = ObjectTypeOf(link);
    auto expanded = [&](std::string text) {
        expandLinkPlaceholders(text, linkType, widgetType, link, widget, &c.budget);
        return text;
    };
    auto add = [&](std::string& to, std::string_view format,
                   std::initializer_list<std::string_view> args) {
        to += expanded(FormatText(format, args));
    };
    const std::string& w = n.w;
    auto& s = c.scriptText;
    switch (widgetType) {
        case kTypeCheckBox:
            add(s[0], kDeclaration, {w});
            add(document,
                " onclick=\"var i; if($('#%s').is(':checked')) i='1'; else i='0'; %schanging=1; "
                "$.get(requestwrite7ws(getaddress%s(),'%s',i,'{{{type}}}'),function(data)"
                "{%schanging=0; }); \"",
                {w, w, n.g, n.v, w});
            add(s[2],
                "function read%s(){$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),"
                "function(data){if(tsrlinkstate('#%s',gets7wsresult(data,'%s')) && %schanging==0) "
                "{var val; var i; val=gets7wsresult(data,'%s'); "
                "if(val==1) i=true; else i=false; $(\"#%s\").prop('checked',i); "
                "$(\"#%s\").checkboxradio('refresh');}}).fail(function(){tsrlinkstate('#%s');})."
                "always(function(){ setTimeout(read%s, %s); })}",
                {w, n.g, n.v, w, n.v, w, n.v, w, w, w, w, n.r});
            break;
        case kTypeButton:
            add(document,
                " onclick=\"$.get(requestwrite7ws(getaddress%s(),'%s','1','{{{type}}}'));\"",
                {n.g, n.v});
            return;
        case kTypeSwitch:
            add(s[0], kDeclaration, {w});
            add(s[1],
                "$(function() { $(\"#%s\").slider({'start' : function(){%schanging=1;},'stop' : "
                "function() { var i; if($(\"#%s\").val()=='On') i=\"1\"; else i=\"0\";  "
                "$.get(requestwrite7ws(getaddress%s(),'%s',i,'{{{type}}}'),function(data)"
                "{%schanging=0; }) }})});\n",
                {w, w, w, n.g, n.v, w});
            add(s[2],
                "function read%s(){$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),"
                "function(data){var val; val=gets7wsresult(data,'%s'); "
                "if(tsrlinkstate('#%s',val) && %schanging==0) "
                "{$(\"#%s\").val(val==1?'On':'Off');  $(\"#%s\").slider('refresh');}})."
                "fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, %s); })}",
                {w, n.g, n.v, n.v, w, w, w, w, w, w, n.r});
            break;
        case kTypeTextInput:
            add(s[0], kDeclaration, {w});
            AppendFormatted(document, kTextFocus, {w});
            AppendFormatted(document, kTextBlur, {w, w});
            AppendFormatted(s[1], kTextEnter, {w, w});
            add(s[1],
                "function write%s(){$.get(requestwrite7ws(getaddress%s(),'%s',$('#%s').val(),"
                "'{{{type}}}'));}",
                {w, n.g, n.v, w});
            add(s[2],
                "function read%s(){$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),"
                "function(data){var val; val=gets7wsresult(data,'%s'); "
                "if(tsrlinkstate('#%s',val) && %schanging==0) {$(\"#%s\").val(val); }})."
                "fail(function(){tsrlinkstate('#%s');}).always(function(){setTimeout(read%s, %s);}); }",
                {w, n.g, n.v, n.v, w, w, w, w, w, n.r});
            break;
        case kTypeSlider:
            add(s[0], kDeclaration, {w});
            AppendFormatted(document, kSliderChange, {w, w});
            AppendFormatted(
                c.mouseUpActions,
                "if(%schanging){$.get(requestwrite7ws(getaddress%s(),'%s',$('#%s').val(),'%s'),"
                "function(data){%schanging=0; read%s(); });}",
                {w, n.g, n.v, w, n.t, w, w});
            add(s[2],
                "function read%s(){if(%schanging==0){%schanging=2; "
                "$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),function(data){var val; "
                "val=gets7wsresult(data,'%s'); if(tsrlinkstate('#%s',val)) {$('#%s').val(val); "
                "$('#%s').slider('refresh');} %schanging=0; }).fail(function(){"
                "tsrlinkstate('#%s'); %schanging=0;}).always(function(){setTimeout(read%s, %s);"
                "});}else setTimeout(read%s, %s); }",
                {w, w, w, n.g, n.v, n.v, w, w, w, w, w, w, w, n.r, w, n.r});
            break;
        case kTypeRadio:
            add(s[0], kDeclaration, {w});
            add(s[1],
                "$(function() { $(\"input[name=%s]:radio\").bind({'change' : "
                "function(){%schanging=1; var i=$('input[name=%s]:checked').val(); "
                "$.get(requestwrite7ws(getaddress%s(),'%s',i,'{{{type}}}'),function(data)"
                "{%schanging=0; }) }})});\n",
                {w, w, w, n.g, n.v, w});
            add(s[2],
                "function read%s(){$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),"
                "function(data){var val; val=gets7wsresult(data,'%s'); "
                "if(tsrlinkstate('input[name=%s]',val) && %schanging==0) "
                "{$(\"input[name=%s][value=\" + val + \"]\").prop('checked', true); "
                "$(\"input[name=%s]\").checkboxradio('refresh');} }).fail(function(){"
                "tsrlinkstate('input[name=%s]');}).always(function(){ setTimeout(read%s, %s); })}",
                {w, n.g, n.v, n.v, w, w, w, w, w, w, n.r});
            break;
        case kTypeKnob:
            add(s[0], kDeclaration, {w});
            AppendKnobOption(
                c, expanded(FormatText(
                       "'change' : function(){%schanging=1;},'release' : function() { "
                       "$.get(requestwrite7ws(getaddress%s(),'%s',$('#%s').val(),'{{{type}}}'),"
                       "function(data){%schanging=0; }) }",
                       {w, n.g, n.v, w, w})));
            add(s[2],
                "function read%s(){$.get(requests7ws(getaddress%s(),'%s','{{{type}}}'),"
                "function(data){var val; val=gets7wsresult(data,'%s'); "
                "if(tsrlinkstate('#%s',val) && %schanging==0) "
                "{$(\"#%s\").val(val).trigger(\"change\");} }).fail(function(){"
                "tsrlinkstate('#%s');}).always(function(){ setTimeout(read%s, %s); })}",
                {w, n.g, n.v, n.v, w, w, w, w, w, n.r});
            break;
        case kTypePlot: {
            const std::string series = std::to_string(c.seriesCounter);
            const std::string_view k = series;
            if (c.seriesCounter == 0) {
                add(s[2], kTimeDeclaration, {w});
                add(s[2],
                    "\r\nfunction "
                    "read(((id)))()\r\n{\r\n$.get(requests7ws(getaddress{{{gatewayid}}}"
                    "(),'{{{variable}}}','{{{type}}}'),function(data){var val; "
                    "val=gets7wsresult(data,'{{{variable}}}');if(!tsrlinkstate('#(((id)))',val)) "
                    "return;\r\nif( typeof(plot(((id)))data[%u])"
                    "!='undefined' && typeof(plot(((id))))!='undefined') \r\n{\r\nvar i; "
                    "\r\ni=(new "
                    "Date().getTime() / 1000)-ts(((id)));\r\nplot(((id)))data[%u].push([i, val]);  "
                    "\r\n\r\n\r\nif(plot(((id)))data[%u].length>(((length)))) "
                    "{plot(((id)))data[%u].shift();}  if( "
                    "typeof(plot(((id)))data[%u])!='undefined' "
                    "&& typeof(plot(((id))))!='undefined'){plot(((id))).series[0].data "
                    "=plot(((id)))data[%u]; plot(((id))).replot({resetAxes:true});}}"
                    "  }).fail(function(){tsrlinkstate('#(((id)))');}).always(function(){"
                    "setTimeout(read(((id))), {{{refreshperiod}}});}); }",
                    {k, k, k, k, k, k});
                add(s[3], kTimeOrigin, {w});
                add(s[3], kStart, {w});
            } else {
                add(s[2],
                    "\r\nfunction read(((id)))_%u()\r\n{\r\n$.get(requests7ws(getaddress"
                    "{{{gatewayid}}}(),'{{{variable}}}','{{{type}}}'),function(data){var val; "
                    "val=gets7wsresult(data,'{{{variable}}}');if(!tsrlinkstate('#(((id)))',val)) "
                    "return;\r\nif( typeof(plot(((id)))data[%u])"
                    "!='undefined' && typeof(plot(((id))))!='undefined') \r\n{\r\nvar i; "
                    "\r\ni=(new "
                    "Date().getTime() / 1000)-ts(((id)));\r\nplot(((id)))data[%u].push([i, val]);  "
                    "\r\n\r\n\r\nif(plot(((id)))data[%u].length>(((length)))) "
                    "{plot(((id)))data[%u].shift();}  if( "
                    "typeof(plot(((id)))data[%u])!='undefined' "
                    "&& typeof(plot(((id))))!='undefined'){plot(((id))).series[%u].data "
                    "=plot(((id)))data[%u]; plot(((id))).replot({resetAxes:true});}}"
                    "  }).fail(function(){tsrlinkstate('#(((id)))');}).always(function(){"
                    "setTimeout(read(((id)))_%u, {{{refreshperiod}}});}); }",
                    {k, k, k, k, k, k, k, k, k});
                add(s[3], "read%s_%u();", {w, k});
            }
            ++c.seriesCounter;
            c.linkReads = true;
            return;
        }
        default:
            return;
    }
    add(s[3], kStart, {w});
    c.linkReads = true;
}

void EmitS71200TableLink(int widgetType, const Names& n, pugi::xml_node link,
                         pugi::xml_node widget, GenerationContext& c) {
    if (widgetType != kTypePlot) return;
    const std::string& p = n.w;
    std::string read = FormatText(
        "function read%s(){$.get(requestns7ws(getaddress%s(),'{{{variable}}}',{{{len}}},"
        "'{{{type}}}'),function(data){if(!tsrlinkstate('#%s',gets7wsresult(data,"
        "'{{{variable}}}'))) return; var variable='{{{variable}}}';var i; "
        "plot%sdata[0].length=0; for(i=0;i<{{{len}}};i++){plot%sdata[0].push([i, "
        "gets7wsresult(data,variable)]); variable=nextvariables7ws(variable); }  \r\nif( "
        "typeof(plot(((id)))data[0])!='undefined' && typeof(plot(((id))))!='undefined') \r\n{  "
        "plot(((id))).series[0].data =plot(((id)))data[0]; plot(((id))).replot({resetAxes:true});"
        "} }).fail(function(){tsrlinkstate('#%s');})."
        "always(function(){setTimeout(read%s, %s);}); }",
        {p, n.g, p, p, p, p, p, n.r});
    expandLinkPlaceholders(read, ObjectTypeOf(link), widgetType, link, widget, &c.budget);
    c.scriptText[2] += read;
    c.scriptText[3] += ExpandedStart(p, link, widgetType, widget, c);
    c.linkReads = true;
}

}  // namespace

void AppendKnobOption(GenerationContext& context, std::string_view option) {
    std::string& s = context.scriptText[1];
    if (option.empty()) return;
    size_t last = s.find_last_not_of(" \t\r\n");
    bool open = last == std::string::npos || s[last] == '{' || s[last] == ',';
    if (!open && option.front() != ',') s += ',';
    s += option;
}

void AppendFormatted(std::string& out, std::string_view format,
                     std::initializer_list<std::string_view> args) {
    if (out.empty()) {
        size_t size = format.size();
        for (std::string_view a : args) size += a.size();
        out.reserve(size);
    }
    auto next = args.begin();
    // The runs between the marks are appended whole.
    size_t from = 0;
    for (size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%' || (format[i + 1] != 's' && format[i + 1] != 'u')) continue;
        out.append(format, from, i - from);
        if (next != args.end()) out += *next++;
        from = ++i + 1;
    }
    out.append(format, from, std::string_view::npos);
}

std::string FormatText(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    AppendFormatted(out, format, args);
    return out;
}

bool IsGatewayType(int type) {
    switch (type) {
        case kTypeCorvaneGateway: case kTypeSqlGateway: case kTypePrintGateway: case kTypeDllGateway:
        case kTypeSimoraGateway: case kTypeUnityGateway: case kTypeS7Gateway: case kTypeKxGateway:
        case kTypeS71200Gateway: case kTypeArduinoGateway: case kTypeModbusGateway:
        case kTypeMqttGateway:
            return true;
        default:
            return false;
    }
}

bool IsLinkType(int type) {
    switch (type) {
        case kTypeCvnLink: case kTypeCvnTableLink: case kTypeSimoraLink: case kTypeUnityLink: case kTypeS7Link:
        case kTypeKxLink: case kTypeS71200Link: case kTypeS71200TableLink: case kTypeArduinoLink:
        case kTypeArduinoTableLink: case kTypeModbusLink: case kTypeMqttLink:
            return true;
        default:
            return false;
    }
}

void EmitGateway(int gatewayType, pugi::xml_node gateway, std::string_view s7LibraryText,
                 GenerationContext& context) {
    const std::string id = GetProperty(gateway, "id");
    std::string address = GetProperty(gateway, "address");
    std::string& out = context.scriptText[2];
    if (gatewayType == kTypeS71200Gateway) {
        AppendFormatted(out, "function getaddress%s(){return %s;}", {id, address});
        context.scriptText[1] += s7LibraryText;
        return;
    }
    if (gatewayType == kTypeArduinoGateway) {
        AppendFormatted(out, "function getaddress%s(){return %s+':';}", {id, address});
        return;
    }
    if (gatewayType == kTypeModbusGateway || gatewayType == kTypeMqttGateway) {
        // One family serves every Modbus TCP gateway, and one every MQTT gateway: each item
        // names its gateway before a '/', so a link posts "MBmb1/hr0" or "MQmq1/tele/plug". (The
        // '/' also keeps a typed name such as "hr0:f32" from reading as a URL scheme.)
        if (!address.empty()) address += '+';
        const char* route = gatewayType == kTypeModbusGateway ? "MB" : "MQ";
        AppendFormatted(out, "function getaddress%s(){return %s'%s%s/';}", {id, address, route, id});
        return;
    }
    const char* kind = nullptr;
    switch (gatewayType) {
        case kTypePrintGateway: kind = "PRN"; break;
        case kTypeDllGateway: kind = "DLL"; break;
        case kTypeSqlGateway: kind = "SQL"; break;
        case kTypeCorvaneGateway: kind = "CVN"; break;
        case kTypeSimoraGateway: kind = "SM"; break;
        case kTypeUnityGateway: kind = "UNI"; break;
        case kTypeS7Gateway: kind = "S7"; break;
        case kTypeKxGateway: kind = "KX"; break;
        default: return;
    }
    if (!address.empty()) address += '+';
    AppendFormatted(out, "function getaddress%s(){return %s'%s';}", {id, address, kind});
}

// The no-communication mark of an orphaned link's widget, on the same box as tsrlinkstate marks
// (a button marks itself: it has no wrapper of its own). An input of a page that jQuery Mobile
// has not created yet has no box yet: the mark waits until the page is created.
const char* const kOrphanLinkState =
    "<script>function tsrorphan(s){var w=$(s);if(!w.length||(w.is('input,select')&&"
    "!w.closest('[data-role=page]').hasClass('ui-page'))){setTimeout(function(){tsrorphan(s);},"
    "500);return;}if(!w.is('div,a,button')) w=w.parent();w.addClass('tsrnocomm')."
    "attr('title','No communication');}</script>\n";

bool LinkServesWidget(int linkType, int widgetType) {
    switch (linkType) {
        case kTypeCvnLink:
        case kTypeSimoraLink:
        case kTypeUnityLink:
        case kTypeS7Link:
        case kTypeKxLink:
        case kTypeModbusLink:
        case kTypeMqttLink:
        case kTypeS71200Link:
            break;
        case kTypeArduinoLink:
            if (widgetType == kTypePlot) return false;  // an Arduino link draws no plot
            break;
        case kTypeCvnTableLink:
        case kTypeS71200TableLink:
            return widgetType == kTypePlot;
        default:
            return false;
    }
    switch (widgetType) {
        case kTypeButton:
        case kTypeSwitch:
        case kTypeCheckBox:
        case kTypeRadio:
        case kTypeTextInput:
        case kTypeSlider:
        case kTypeKnob:
        case kTypePlot:
            return true;
        default:
            return false;
    }
}

void EmitOrphanLink(int linkType, pugi::xml_node link, int widgetType, pugi::xml_node widget,
                    GenerationContext& context) {
    if (!LinkServesWidget(linkType, widgetType)) return;
    const Names n = ReadNames(link, widgetType, widget);
    const std::string selector = widgetType == kTypeRadio ? "input[name=" + n.w + "]" : "#" + n.w;
    AppendFormatted(context.scriptText[3], "tsrorphan('%s');", {selector});
    context.orphanLinks.push_back({n.w, n.v, n.g});
}

void EmitLink(int linkType, pugi::xml_node link, int widgetType, pugi::xml_node widget,
              GenerationContext& context, std::string& document) {
    const Names names = ReadNames(link, widgetType, widget);
    switch (linkType) {
        case kTypeCvnLink: case kTypeSimoraLink: case kTypeUnityLink: case kTypeS7Link: case kTypeKxLink:
        case kTypeModbusLink: case kTypeMqttLink:
            EmitServerLink(widgetType, names, link, widget, false, context, document);
            break;
        case kTypeArduinoLink:
            EmitServerLink(widgetType, names, link, widget, true, context, document);
            break;
        case kTypeCvnTableLink:
            EmitServerTableLink(widgetType, names, link, widget, context);
            break;
        case kTypeS71200Link:
            EmitS71200Link(widgetType, names, link, widget, context, document);
            break;
        case kTypeS71200TableLink:
            EmitS71200TableLink(widgetType, names, link, widget, context);
            break;
        default:
            break;  // an Arduino table link emits nothing
    }
}

}  // namespace tsr
