// Helpers shared by the designer tests.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "model/project_document.h"

namespace tsr::test {

// Replaces the document of `doc` by `xml`; the changed flag is set to `changed`.
inline void LoadXml(ProjectDocument& doc, const char* xml, bool changed = false) {
    ASSERT_TRUE(doc.xml().load_string(xml)) << xml;
    doc.SetProjectChanged(changed);
}

// The whole document as text, to compare before and after an operation.
inline std::string XmlText(const ProjectDocument& doc) {
    std::ostringstream out;
    doc.xml().save(out, "", pugi::format_raw);
    return out.str();
}

}  // namespace tsr::test
