// The large projects of the generator benchmarks: pages of widgets, links and containers.
#pragma once

#include "model/catalogue.h"
#include "model/project_document.h"

namespace tsr {

// Fills the project with pages of widgets, links and containers until it holds `count` objects.
inline void Populate(ProjectDocument& doc, int count) {
    pugi::xml_node project = doc.ProjectElement();
    doc.CreateObject(FindTypeByKey("corvanegateway"), project);
    doc.CreateObject(FindTypeByKey("unigateway"), project);
    const char* widgets[] = {"switch", "slider", "knob", "checkb", "textinput",
                             "label",  "button", "plot", "radiob"};
    const char* links[] = {"cvnlink", "unitylink", "s7iplink", "kxlink", "smlink"};
    pugi::xml_node page = project.first_child();
    int objects = 4, i = 0;
    while (objects < count) {
        if (i % 40 == 39) {
            doc.CreateObject(kTypePage, project, &page);
            ++objects;
        }
        pugi::xml_node parent = page;
        if (i % 10 == 0) {
            doc.CreateObject(FindTypeByKey("div"), page, &parent);
            ++objects;
        }
        pugi::xml_node widget;
        doc.CreateObject(FindTypeByKey(widgets[i % 9]), parent, &widget);
        ++objects;
        if (i % 2 == 0 && objects < count) {
            doc.CreateObject(FindTypeByKey(links[i % 5]), widget);
            ++objects;
        }
        ++i;
    }
}

}  // namespace tsr
