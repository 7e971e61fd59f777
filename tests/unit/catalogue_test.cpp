#include "model/catalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "model/catalogue_json.h"
#include "test_support.h"

namespace tsr {
namespace {

nlohmann::json LoadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
}

TEST(Catalogue, BuiltInTableEqualsTheCatalogueFile) {
    nlohmann::json file = LoadJson(TESSORA_SOURCE_DIR "/resources/catalogue.json");
    ASSERT_TRUE(file.is_array());
    EXPECT_EQ(nlohmann::json::parse(CatalogueToJson()), file);
    // The reference copy kept beside the repository, when present, holds the same types; the
    // types added since are appended after them, so every type it holds is unchanged.
    std::ifstream shared(TESSORA_SOURCE_DIR "/../shared/catalogue.json");
    if (shared) {
        const nlohmann::json reference = LoadJson(TESSORA_SOURCE_DIR "/../shared/catalogue.json");
        ASSERT_TRUE(reference.is_array());
        ASSERT_LE(reference.size(), file.size());
        for (size_t i = 0; i < reference.size(); ++i) EXPECT_EQ(file[i], reference[i]) << i;
    }
}

TEST(Catalogue, CliPrintsTheCatalogue) {
    int status = -1;
    std::string out = test::RunCommand(std::string(TESSORA_CLI) + " catalogue", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(nlohmann::json::parse(out, nullptr, false),
              LoadJson(TESSORA_SOURCE_DIR "/resources/catalogue.json"));
}

TEST(Catalogue, LookupByKeyIsExactAndCaseSensitive) {
    struct Case {
        const char* key;
        int id;
    } cases[] = {
        {"page", 1},           {"Page", -1},      {"tsr", -1},   {"", -1},
        {"project", 0},        {"knob", 19},      {"knob ", -1}, {"arduinowebserverslink", 49},
        {"modbusgateway", 50}, {"modbuslink", 51}, {"mqttgateway", 52}, {"mqttlink", 53}};
    for (const Case& c : cases) EXPECT_EQ(FindTypeByKey(c.key), c.id) << c.key;
}

TEST(Catalogue, TheNamedTypeIdsAreTheCataloguesOwn) {
    struct Case {
        TypeId id;
        const char* key;
    } cases[] = {
        {kTypeProject, "project"},
        {kTypePage, "page"},
        {kTypeButton, "button"},
        {kTypeSwitch, "switch"},
        {kTypeCheckBox, "checkb"},
        {kTypeRadio, "radiob"},
        {kTypeScript, "script"},
        {kTypeTextInput, "textinput"},
        {kTypeSlider, "slider"},
        {kTypeKnob, "knob"},
        {kTypeCorvaneGateway, "corvanegateway"},
        {kTypeCvnLink, "cvnlink"},
        {kTypePlot, "plot"},
        {kTypeCvnTableLink, "cvnslink"},
        {kTypeCaco, "caco"},
        {kTypeSpan, "span"},
        {kTypeSqlGateway, "sqllitegateway"},
        {kTypePrintGateway, "printgateway"},
        {kTypeDllGateway, "dllgateway"},
        {kTypeSimoraGateway, "smgateway"},
        {kTypeSimoraLink, "smlink"},
        {kTypeUnityGateway, "unigateway"},
        {kTypeUnityLink, "unitylink"},
        {kTypeS7Gateway, "s7ipgateway"},
        {kTypeS7Link, "s7iplink"},
        {kTypeKxGateway, "kxgateway"},
        {kTypeKxLink, "kxlink"},
        {kTypeS71200Gateway, "s71200wsgateway"},
        {kTypeS71200Link, "s71200webserverlink"},
        {kTypeS71200TableLink, "s71200webserverslink"},
        {kTypeArduinoGateway, "arduinowsgateway"},
        {kTypeArduinoLink, "arduinowebserverlink"},
        {kTypeArduinoTableLink, "arduinowebserverslink"},
        {kTypeModbusGateway, "modbusgateway"},
        {kTypeModbusLink, "modbuslink"},
        {kTypeMqttGateway, "mqttgateway"},
        {kTypeMqttLink, "mqttlink"},
    };
    for (const Case& c : cases) EXPECT_EQ(FindTypeByKey(c.key), static_cast<int>(c.id)) << c.key;
}

TEST(Catalogue, RecordsAreInIdOrder) {
    for (int i = 0; i < static_cast<int>(kTypeCount); ++i) {
        EXPECT_EQ(Catalogue()[i].id, i);
        EXPECT_EQ(FindTypeById(i), i);
        EXPECT_EQ(FindTypeByKey(TypeKey(i)), i);
    }
    EXPECT_EQ(FindTypeById(54), -1);
    EXPECT_EQ(FindTypeById(-1), -1);
    EXPECT_EQ(TypeRecord(54), nullptr);
}

TEST(Catalogue, PropertyCountsAndLookups) {
    EXPECT_EQ(PropertyCount(kTypeKnob), 19);
    EXPECT_EQ(PropertyCount(kTypeScript), 1);
    EXPECT_EQ(PropertyCount(kTypeProject), 7);
    EXPECT_EQ(PropertyCount(99), 0);
    for (size_t t = 0; t < kTypeCount; ++t) EXPECT_LE(PropertyCount(static_cast<int>(t)), 19);

    EXPECT_EQ(FindPropertyByKey(kTypeKnob, "thickness"), 5);
    EXPECT_EQ(FindPropertyByKey(kTypeKnob, "Thickness"), -1);
    EXPECT_EQ(FindPropertyByKey(kTypeKnob, "script0"), -1);
    EXPECT_EQ(FindPropertyByKey(-1, "id"), -1);
    EXPECT_STREQ(PropertyDefault(kTypeKnob, 5), "0.2");
    EXPECT_EQ(PropertyKindAt(kTypeKnob, 10), PropertyKind::Colour);
    EXPECT_STREQ(PropertyDefault(kTypeKnob, 11), "65535");
    EXPECT_STREQ(PropertyOptions(kTypePage, 1), "Left;Center;Right");
    EXPECT_STREQ(PropertyKeyAt(kTypeKnob, 19), "");
    EXPECT_STREQ(PropertyLabel(kTypeProject, 1), "Web server port number");
    EXPECT_STREQ(PropertyDescription(kTypeProject, 4), "");  // templates have none
    EXPECT_EQ(PropertyKindAt(kTypeScript, 0), PropertyKind::Script);
}

TEST(Catalogue, AllowedParents) {
    auto id = [](const char* key) { return FindTypeByKey(key); };
    struct Case {
        const char* child;
        const char* parent;
        bool allowed;
    } cases[] = {
        {"page", "project", true},
        {"script", "project", true},
        {"unigateway", "project", true},
        {"knob", "page", true},
        {"knob", "project", false},
        {"project", "project", false},
        {"span", "div", true},
        {"span", "page", false},
        {"cvnslink", "plot", true},
        {"cvnslink", "knob", false},
        {"caco", "paco", true},
        {"caco", "page", false},
        {"onchangescript", "knob", true},
        {"onclickgoto", "switch", false},
        {"modbusgateway", "project", true},
        {"modbusgateway", "page", false},
        {"modbuslink", "slider", true},
        {"modbuslink", "plot", true},
        {"modbuslink", "switch", true},
        {"modbuslink", "label", false},
        {"modbuslink", "page", false},
        {"mqttgateway", "project", true},
        {"mqttlink", "knob", true},
        {"mqttlink", "plot", true},
        {"mqttlink", "label", false},
        {"unitylink", "slider", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsAllowedParent(id(c.child), id(c.parent)), c.allowed)
            << c.child << " under " << c.parent;
    EXPECT_FALSE(IsAllowedParent(-1, 0));
    EXPECT_FALSE(IsAllowedParent(1, -1));
    // The project element is the only parent of pages, scripts and gateways.
    for (const char* key : {"page", "script", "corvanegateway", "sqllitegateway", "printgateway",
                            "dllgateway", "smgateway", "unigateway", "s7ipgateway", "kxgateway",
                            "s71200wsgateway", "arduinowsgateway", "modbusgateway", "mqttgateway"}) {
        const ObjectType* t = TypeRecord(id(key));
        ASSERT_EQ(t->parentCount, 1) << key;
        EXPECT_EQ(t->parents[0], kTypeProject);
    }
}

TEST(Catalogue, GatewayAddressDefaults) {
    for (const char* key : {"corvanegateway", "sqllitegateway", "printgateway", "dllgateway",
                            "smgateway", "unigateway", "s7ipgateway", "kxgateway",
                            "s71200wsgateway", "arduinowsgateway", "modbusgateway", "mqttgateway"}) {
        int t = FindTypeByKey(key);
        int p = FindPropertyByKey(t, "address");
        ASSERT_GE(p, 0) << key;
        EXPECT_STREQ(PropertyDefault(t, p), std::string(key) == "arduinowsgateway" ? "''" : "")
            << key;
    }
    int s7 = FindTypeByKey("s7ipgateway");
    EXPECT_EQ(PropertyKindAt(s7, FindPropertyByKey(s7, "ucpos")), PropertyKind::UInt16);
}

TEST(Catalogue, FieldsStayWithinTheirLimits) {
    for (size_t t = 0; t < kTypeCount; ++t) {
        const ObjectType& type = Catalogue()[t];
        EXPECT_LT(strlen(type.key), kMaxKeyBytes);
        EXPECT_LT(strlen(type.displayName), kMaxNameChars);
        EXPECT_LE(static_cast<size_t>(type.parentCount), kMaxParents);
        EXPECT_LE(static_cast<size_t>(type.propertyCount), kMaxProperties);
        for (int i = 0; i < type.propertyCount; ++i) {
            const PropertyDef& p = type.properties[i];
            EXPECT_LT(strlen(p.defaultText), kMaxDefaultBytes);
            EXPECT_LT(strlen(p.description), kMaxDescriptionChars);
            EXPECT_LT(strlen(p.options), kMaxOptionsChars);
            if (p.kind == PropertyKind::Template) { EXPECT_STREQ(p.description, ""); }
        }
    }
}

}  // namespace
}  // namespace tsr
