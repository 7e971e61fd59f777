// The program's string table: message texts keyed by their ids, in English and French.
#pragma once

#include <string>

namespace tsr {

enum class Language { English, French };

// The user-interface language: French when the first of LC_ALL, LC_MESSAGES and LANG that is
// set and not empty names a French locale ("fr", "fr_FR.UTF-8"...), else English.
Language SystemLanguage();

// The text of string `id` in `language`, or the empty text when the table has no such entry.
std::string LoadString(int id, Language language);

// The text of string `id` in the system's language.
std::string LoadString(int id);

// Message ids used by the core.
enum StringId : int {
    kMsgErrorSaving = 102,
    kMsgErrorLoading = 103,
    kMsgCannotCreateWebServer = 104,
    kMsgCannotLaunchPreview = 105,
    kMsgSavingProject = 106,
    kMsgProjectChanged = 107,
    kMsgErrorGeneratingFiles = 134,
    kMsgArduinoContinue = 135,
    kMsgArduinoWait = 140,
    // The Modbus TCP family's connection lines; %s is the device's `ip`.
    kMsgModbusCannotConnect = 141,
    kMsgModbusConnected = 142,
    kMsgModbusDisconnected = 143,
    // A state line logged again: %s the line, %t the time of the last repeat, %n how often.
    kMsgAgainTimes = 144,
    kMsgAgainOnce = 145,
    // The printer module could not be loaded: %s says why.
    kMsgPrinterModuleMissing = 146,
    kMsgPrinterModuleOther = 147,
    // The MQTT family's connection lines; %s is the broker's "host:port".
    kMsgMqttCannotConnect = 148,
    kMsgMqttConnected = 149,
    kMsgMqttDisconnected = 150,
    // A page's write while the broker is not connected: %s the topic, then the broker.
    kMsgMqttWriteDropped = 151,
    kMsgAllFiles = 61442,
};

// Texts of the designer window: captions, menus, the context menu and the file dialog.
enum ShellStringId : int {
    kTextLibrary = 2001,
    kTextProject = 2002,
    kTextPreview = 2003,
    kTextLogs = 2004,
    kTextGridProperty = 2005,  // the grid's column titles
    kTextGridValue = 2006,
    kMenuFile = 2010,
    kMenuFileNew = 2011,
    kMenuFileOpen = 2012,
    kMenuFileSave = 2013,
    kMenuFileSaveAs = 2014,
    kMenuTool = 2020,
    kMenuToolOpenBrowser = 2021,
    kMenuToolOpenHtmlEditor = 2022,
    kMenuToolConnectBrowser = 2023,
    kMenuToolOpenResources = 2024,
    kMenuToolHide = 2025,
    kMenuToolExpertMode = 2026,
    kMenuBuild = 2030,
    kMenuBuildDirectory = 2031,
    kMenuBuildArduino = 2032,
    kMenuHelp = 2040,
    kMenuHelpHelp = 2041,
    kMenuHelpManual = 2042,
    kMenuDelete = 2050,
    kMenuDuplicate = 2051,
    kTextLoadTitle = 2060,
    kTextSaveTitle = 2061,
    kTextNoDisplay = 2070,
    // The script editor and the build dialog.
    kTextEditCaption = 2080,
    kTextOk = 2081,
    kTextCancel = 2082,
    kTextGenerateCaption = 2090,
    kTextTargetDirectory = 2091,
    kTextConvert83 = 2092,
    // Build to Arduino with arduino-cli.
    kTextArduinoBoardPrompt = 2110,
    kTextArduinoPortPrompt = 2111,
    kTextArduinoNoCli = 2112,
    kTextArduinoProgress = 2113,
    kTextArduinoFailed = 2114,
    kTextArduinoCaption = 2115,
    // A project that reaches outside its own files, and the question whether to trust it.
    kTextTrustIntro = 2120,
    kTextTrustLibrary = 2121,
    kTextTrustDatabase = 2122,
    kTextTrustFile = 2123,
    kTextTrustQuestion = 2124,
    kTextTrustNotStarted = 2125,
    kTextTrustCaption = 2126,
    kTextTrustCliHint = 2127,
    kTextGenerationBounded = 2130,
    // A link whose gateway id names no gateway of the project: widget, variable, gateway id.
    kTextLinkWithoutGateway = 2131,
    // A numeric value of an opened project outside its range: value, label, type, new value.
    kTextValueClamped = 2132,
    // Why the web server could not listen.
    kTextServerPortPrivileged = 2140,
    kTextServerPortInUse = 2141,
    kTextServerCannotListen = 2142,
    // The web server's access settings in the profile are wrong.
    kMsgServerAccessWrong = 2145,
    // The maximum age of shared device values in the profile is wrong.
    kMsgMaxAgeWrong = 2146,
    // The broker address the designer publishes the values it reads to is wrong.
    kMsgPublishWrong = 2147,
    // The "Server access" dialog: access rules, sign-in and HTTPS.
    kTextServerAccess = 2150,
    kTextListenAddress = 2151,
    kTextAllowedClients = 2152,
    kTextWriteClients = 2153,
    kTextUsersFile = 2154,
    kTextAnonymousRead = 2155,
    kTextTlsOff = 2156,
    kTextTlsSelfSigned = 2157,
    kTextTlsFiles = 2158,
    kTextTlsCert = 2159,
    kTextTlsKey = 2160,
    kTextAddUser = 2161,
    kTextRemoveUser = 2162,
    kTextChangeRole = 2163,
    kTextUserName = 2164,
    kTextPassword = 2165,
    kTextPasswordAgain = 2166,
    kTextOperatorRole = 2167,
    kMsgSignInNeedsTls = 2168,
    kMsgUsersFileWrong = 2169,
    kMsgTlsWrong = 2170,
    kMsgPasswordsDiffer = 2171,
    kMsgPasswordShort = 2172,
    kMsgUserNameWrong = 2173,
    kTextTlsFingerprint = 2174,
    kTextUsers = 2175,
    kMsgCannotSaveSettings = 2176,
    // The Edit menu, reordering in the project tree, Quit, and Build to Arduino's copy.
    kMenuEdit = 2200,
    kMenuEditUndo = 2201,
    kMenuEditRedo = 2202,
    kMenuMoveUp = 2203,
    kMenuMoveDown = 2204,
    kMenuFileQuit = 2205,
    kTextArduinoSaveQuestion = 2210,
    kTextArduinoSaveDirectory = 2211,
    kTextArduinoSaved = 2212,
};

// Texts of the designer's rules (src/designer).
enum DesignerStringId : int {
    kTextTessoraFiles = 2100,  // the project file type in the file dialog's filter list
    // Deleting a gateway that links use: (gateway id) for one link, (count, gateway id) for more.
    kTextDeleteGatewayOneLink = 2220,
    kTextDeleteGatewayLinks = 2221,
    // A typed number refused: the row's label, then the range's ends.
    kTextEnterWholeNumber = 2230,
    kTextEnterNumberFromTo = 2231,
    kTextEnterNumberAtLeast = 2232,
    kTextEnterNumber = 2233,
    // The page has links and the web server is off.
    kTextLiveValuesHint = 2234,
    // The short names of the link types in the project tree.
    kTextCorvaneLink = 2240,
    kTextCorvaneTableLink = 2241,
    kTextSimoraLink = 2242,
    kTextUnityLink = 2243,
    kTextS7Link = 2244,
    kTextKxLink = 2245,
    kTextS71200Link = 2246,
    kTextS71200TableLink = 2247,
    kTextArduinoLink = 2248,
    kTextArduinoTableLink = 2249,
    kTextModbusLink = 2250,
    kTextMqttLink = 2251,
};

}  // namespace tsr
