// The object type catalogue: the 54 constant object types, their properties, defaults and
// placement rules. Built into the program; nothing in it changes at run time.
#pragma once

#include <cstddef>
#include <string_view>

namespace tsr {

// How a property's text value is edited and written back. The stored value is always text.
enum class PropertyKind : int {
    Text = 0,
    Boolean = 1,
    UInt16 = 2,
    Real = 3,
    Choice = 4,
    Colour = 5,
    UInt32 = 6,
    Template = 7,
    Script = 8,
};

// Field limits of a catalogue record (bytes including the terminating NUL).
inline constexpr size_t kTypeCount = 54;
inline constexpr size_t kMaxKeyBytes = 64;
inline constexpr size_t kMaxNameChars = 128;
inline constexpr size_t kMaxParents = 127;
inline constexpr size_t kMaxProperties = 32;
inline constexpr size_t kMaxDefaultBytes = 2048;
inline constexpr size_t kMaxDescriptionChars = 512;
inline constexpr size_t kMaxOptionsChars = 64;

struct PropertyDef {
    PropertyKind kind;
    const char* key;
    const char* label;
    const char* defaultText;  // may hold '#', numbered when an object is created
    const char* description;  // empty for template properties
    const char* options;      // Choice properties: choices separated by ';'
};

struct ObjectType {
    int id;
    const char* key;          // XML element name of objects of this type
    const char* displayName;  // project-tree text and grid group caption
    const int* parents;       // allowed parent type ids
    int parentCount;
    const PropertyDef* properties;
    int propertyCount;
};

// Type ids the code refers to by name.
enum TypeId : int {
    kTypeProject = 0,
    kTypePage = 1,
    kTypeButton = 4,
    kTypeSwitch = 5,
    kTypeCheckBox = 9,
    kTypeRadio = 10,
    kTypeScript = 14,
    kTypeTextInput = 16,
    kTypeSlider = 17,
    kTypeKnob = 19,
    kTypeCorvaneGateway = 20,
    kTypeCvnLink = 22,
    kTypePlot = 23,
    kTypeCvnTableLink = 24,
    kTypeCaco = 26,
    kTypeSpan = 29,
    kTypeSqlGateway = 30,
    kTypePrintGateway = 33,
    kTypeDllGateway = 34,
    kTypeSimoraGateway = 35,
    kTypeSimoraLink = 36,
    kTypeUnityGateway = 37,
    kTypeUnityLink = 38,
    kTypeS7Gateway = 39,
    kTypeS7Link = 40,
    kTypeKxGateway = 41,
    kTypeKxLink = 42,
    kTypeS71200Gateway = 43,
    kTypeS71200Link = 44,
    kTypeS71200TableLink = 46,
    kTypeArduinoGateway = 47,
    kTypeArduinoLink = 48,
    kTypeArduinoTableLink = 49,
    kTypeModbusGateway = 50,
    kTypeModbusLink = 51,
    kTypeMqttGateway = 52,
    kTypeMqttLink = 53,
};

// The whole catalogue, in type-id order.
const ObjectType* Catalogue();

// The type id whose key equals `key` byte for byte (case-sensitive); -1 when none does.
int FindTypeByKey(std::string_view key);

// The position of the record of type `id`; -1 when there is none.
int FindTypeById(int id);

// The record of type `id`, or nullptr when `id` is not a type id.
const ObjectType* TypeRecord(int id);

// The number of properties of type `type`; 0 when `type` is not a type id.
int PropertyCount(int type);

// The index of the property of `type` whose key equals `key` (case-sensitive); -1 when none.
int FindPropertyByKey(int type, std::string_view key);

// The property `index` of `type`, or nullptr when either is out of range.
const PropertyDef* Property(int type, int index);

// True when `parentType` is one of the allowed parents of `childType`. False for unknown ids.
bool IsAllowedParent(int childType, int parentType);

// Accessors; each returns "" for an unknown type or property index.
const char* TypeKey(int type);
const char* TypeDisplayName(int type);
const char* PropertyKeyAt(int type, int index);
const char* PropertyLabel(int type, int index);
const char* PropertyDefault(int type, int index);
const char* PropertyDescription(int type, int index);
const char* PropertyOptions(int type, int index);
// The kind of property `index` of `type`; Text when out of range.
PropertyKind PropertyKindAt(int type, int index);

// The name of a kind as used in catalogue files ("Text", "Boolean"...).
const char* PropertyKindName(PropertyKind kind);

}  // namespace tsr
