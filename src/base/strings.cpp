#include "base/strings.h"

#include <cstdlib>
#include <cstring>

namespace tsr {
namespace {

struct Entry {
    int id;
    const char* english;  // nullptr: no English text
    const char* french;   // nullptr: no French text
};

// Texts are UTF-8.
constexpr Entry kTable[] = {
    {102, "Error while saving", "Erreur lors de l'enregistrement"},
    {103, "Error while loading", "Erreur lors du chargement"},
    {104, "Cannot create web server, please check the port number",
     "Impossible de créer le serveur Web, vérifiez le numéro de port"},
    {105, "Cannot launch web preview", "Impossible de créer l'aperçu Web"},
    {106, "Saving project", "Sauvegarde du projet"},
    {107, "Project changed, save modifications?", "Projet modifié, sauver les modifications ?"},
    {108,
     "Cannot connect to CORVANE, CORVANE must be launched and execution must be activated, will "
     "retry in 5 seconds",
     "Impossible de se connecter à CORVANE, CORVANE doit être lancé et l'exécution activée. "
     "Nouvel essai dans 5 secondes..."},
    {109, "Connected to CORVANE", "Connecté à CORVANE"},
    {110, "Cannot connect to sql database, verify the filename and the sql file",
     "Impossible de se connecter à la base de données SQL, vérifiez le nom du fichier et le "
     "fichier"},
    {111, "Connected to SQL database", "Connexté à la base de donnée SQL"},
    {112, "Disconnected from CORVANE", "Déconnecté d'CORVANE"},
    {113, "Disconnected from SQL database", "Déconnecté de la base de données SQL"},
    {114, "Can't open printer", "Impossible d'ouvrir l'imprimante"},
    {115, "Printer opened", "Imprimante ouverte"},
    {116, "Printer closed", "Imprimante fermée"},
    {117, "Cannot connect to dll, verify the filename and the dll file",
     "Impossible de se connecter à la dll, vérifiez le nom du fichier et le fichier"},
    {118, "Connected to dll", "Connecté à la dll"},
    {119, "Disconnected from dll", "Déconnecté de la dll"},
    {120,
     "Cannot connect to SIMORA, SIMORA must be launched and execution must be activated, will "
     "retry in 5 seconds",
     "Impossible de se connecter à SIMORA, SIMORA doit être lancé et l'exécution activée. "
     "Nouvel essai dans 5 secondes..."},
    {121, "Connected to SIMORA", "Connecté à SIMORA"},
    {122, "Disconnected from SIMORA", "Déconnecté de SIMORA"},
    {123, "Cannot connect to Unity simulator or M340, will retry in 5 seconds",
     "Impossible de se connecter au simulateur UNITY ou l'automate M340. Nouvel essai dans 5 "
     "secondes..."},
    {124, "Connected to Unity simulator or M340",
     "Connecté au simulateur Unity ou l'automate M340"},
    {125, "Disconnected from Unity simulator or M340",
     "Déconnecté du simulateur Unity ou de l'automate M340"},
    {126, "Cannot connect to S7 IP, will retry in 5 seconds",
     "Impossible de se connecter à l'automate S7 IP. Nouvel essai dans 5 secondes..."},
    {127, "Connected to S7 IP", "Connecté à l'automate S7 IP"},
    {128, "Disconnected from S7 IP", "Déconnecté de l'automate S7 IP"},
    {131, "Cannot connect to KX, KX must be launched and in RUN mode, will retry in 5 seconds",
     "Impossible de se connecter à KX. Vérifiez que KX est lancé et en mode RUN. Nouvel essai "
     "dans 5 secondes..."},
    {132, "Connected to KX", "Connecté à KX"},
    {133, "Diseconnected from KX", "Déconnecté d'KX"},
    {134, "Error while generating files", "Erreur à la génération des fichiers"},
    {135,
     "Connect Arduino to the PC with a SD card inserted into the Arduino. Launch Arduino "
     "software. Index.htm is going to be transferred to the SD card inserted into the Arduino. "
     "The Arduino existing user application is going to be overwritten. Continue?",
     "Connectez l'Arduino au PC avec une carte SD insérée dans l'Arduino. Lancez le logiciel "
     "Arduino. Index.htm va être transféré sur la carte SD insérée dans l'Arduino. "
     "L'application existante de l'Arduino va être écrasée. Continuer ?"},
    {136, "Error during file writing", "Erreur lors de l'écriture du fichier"},
    {137, "Error during file read", "Erreur lors de la lecture du fichier"},
    {139, nullptr,
     "Logiciel Arduino non trouvé, lancez svp le logiciel Ardunio, puis appuyez sur OK"},
    {140,
     "Wait the end of compiling and transfering to Arduino. To see SD card writing status, "
     "please open the \"Serial monitor\" into Arduino software. Ckick OK to continue.",
     "Attendez la fin de la compilation et du transfert vers l'Arduino. Pour voir l'état de "
     "l'écriture sur la carte SD, ouvrez le \"Moniteur série\" du logiciel Arduino. Cliquez sur "
     "OK pour continuer."},
    {141, "Cannot connect to Modbus TCP device %s, will retry in 5 seconds",
     "Impossible de se connecter à l'équipement Modbus TCP %s, nouvel essai dans 5 secondes..."},
    {142, "Connected to Modbus TCP device %s", "Connecté à l'équipement Modbus TCP %s"},
    {143, "Disconnected from Modbus TCP device %s", "Déconnecté de l'équipement Modbus TCP %s"},
    {144, "%s (again at %t, %n times)", "%s (encore à %t, %n fois)"},
    {145, "%s (again at %t)", "%s (encore à %t)"},
    {146, "Cannot load the printer module, nothing can be printed: %s",
     "Impossible de charger le module d'impression, rien ne peut être imprimé : %s"},
    {147, "not a printer module of this version of the program",
     "pas un module d'impression de cette version du programme"},
    {148, "Cannot connect to MQTT broker %s, will retry in 5 seconds",
     "Impossible de se connecter au courtier MQTT %s, nouvel essai dans 5 secondes..."},
    {149, "Connected to MQTT broker %s", "Connecté au courtier MQTT %s"},
    {150, "Disconnected from MQTT broker %s", "Déconnecté du courtier MQTT %s"},
    {151, "Write to MQTT topic %s not sent: not connected to broker %s",
     "Écriture sur le sujet MQTT %s non envoyée : pas de connexion au courtier %s"},
    {61442, "All files (*.*)", "Tous les fichiers (*.*)"},
    {2001, "Library", "Bibliothèque"},
    {2002, "Project", "Projet"},
    {2003, "Preview", "Aperçu"},
    {2004, "Logs", "Messages"},
    {2005, "Property", "Propriété"},
    {2006, "Value", "Valeur"},
    {2010, "File", "Fichier"},
    {2011, "New\tCtrl+N", "Nouveau\tCtrl+N"},
    {2012, "Open\tCtrl+O", "Ouvrir\tCtrl+O"},
    {2013, "Save\tCtrl+S", "Sauver\tCtrl+S"},
    {2014, "Save as", "Sauver sous"},
    {2020, "Tool", "Outils"},
    {2021, "Open file with Web browser", "Ouvrir le fichier avec un navigateur Web"},
    {2022, "Open file with HTML editor", "Ouvrir le fichier avec un éditeur Html"},
    {2023, "Connect with Web browser", "Connecter avec un navigateur Web"},
    {2024, "Open resources directory", "Ouvrir le répertoire contetant les resources"},
    {2025, "Hide TSR (press ALT+ CTRL + F6 during one sec to show again)",
     "Cacher TSR (pressez ALT+ CTRL + F6 pendant une seconde pour réafficher)"},
    {2026, "Toggle expert mode", "Commuter le mode expert"},
    {2030, "Build", "Générer"},
    {2031, "Build files to a directory", "Générer les fichiers vers un répertoire"},
    {2032, "Build to Arduino", "Générer vers Arduino"},
    {2040, "Help", "Aide"},
    {2041, "Help", "Aide"},
    {2042, "Manual", "Manuel"},
    {2050, "Delete", "Supprimer"},
    {2051, "Duplicate", "Dupliquer"},
    {2060, "Load", "Charger"},
    {2061, "Save", "Sauver"},
    {2070, "tessora: no display (DISPLAY and WAYLAND_DISPLAY are unset); use tessora-cli serve",
     "tessora : pas d'affichage (DISPLAY et WAYLAND_DISPLAY absents) ; utilisez tessora-cli serve"},
    {2080, "Edit", "Editer"},
    {2081, "OK", "OK"},
    {2082, "Cancel", "Annuler"},
    {2090, "Generate", "Générer"},
    {2091, "Target directory", "Répertoire de destination :"},
    {2092, "Convert all the file names to 8.3 format",
     "Convertir tous les noms de fichiers au format 8.3"},
    {2100, "Tessora files", "Fichiers Tessora"},
    {2110, "Arduino board (FQBN, for example arduino:avr:uno):",
     "Carte Arduino (FQBN, par exemple arduino:avr:uno) :"},
    {2111, "Serial port of the Arduino (for example /dev/ttyACM0):",
     "Port série de l'Arduino (par exemple /dev/ttyACM0) :"},
    {2112,
     "arduino-cli was not found. The sketch is in\n%s\nOpen it in the Arduino software (copy it "
     "into a sketch), or install arduino-cli, then upload it to the board.",
     "arduino-cli est introuvable. Le croquis se trouve dans\n%s\nOuvrez-le dans le logiciel "
     "Arduino (copiez-le dans un croquis), ou installez arduino-cli, puis téléversez-le sur la "
     "carte."},
    {2113, "Compiling and uploading the sketch with arduino-cli...",
     "Compilation et téléversement du croquis avec arduino-cli..."},
    {2114, "arduino-cli could not compile or upload the sketch; its output is in the log.",
     "arduino-cli n'a pas pu compiler ou téléverser le croquis ; sa sortie est dans les messages."},
    {2115, "Build to Arduino", "Générer vers Arduino"},
    {2120, "The project %s reaches outside its own files. Once started, its gateways will:",
     "Le projet %s accède à autre chose que ses propres fichiers. Une fois démarrées, ses "
     "passerelles vont :"},
    {2121, "load the shared library %s (its code runs in Tessora)",
     "charger la bibliothèque partagée %s (son code s'exécute dans Tessora)"},
    {2122, "open the database %s for the panel's clients",
     "ouvrir la base de données %s pour les clients du panneau"},
    {2123, "print to the file %s", "imprimer dans le fichier %s"},
    {2124,
     "Start these gateways? Answer No unless you trust where this project comes from; the "
     "others start in any case.",
     "Démarrer ces passerelles ? Répondez Non si vous ne savez pas d'où vient ce projet ; les "
     "autres démarrent dans tous les cas."},
    {2125, "Not started, the project is not trusted: %s",
     "Non démarrée, le projet n'est pas approuvé : %s"},
    {2126, "Trust this project?", "Faire confiance à ce projet ?"},
    {2127, "These gateways stay stopped; run the command again with --trust to start them.",
     "Ces passerelles restent arrêtées ; relancez la commande avec --trust pour les démarrer."},
    {2130,
     "The page is incomplete: the project expands beyond what one generation may produce; the "
     "text of %s and of what passed the bound is left out. Look for a value that contains its "
     "own template form.",
     "La page est incomplète : le projet s'étend au-delà de ce qu'une génération peut produire ; "
     "le texte de %s et de ce qui a dépassé la limite est omis. Cherchez une valeur qui contient "
     "sa propre forme de modèle."},
    {2131, "The link of %s to %s refers to gateway %s, which the project does not have",
     "Le lien de %s vers %s fait référence à la passerelle %s, que le projet n'a pas"},
    {2132, "The value %s of %s (%s) is out of range; it is now %s",
     "La valeur %s de %s (%s) est hors limites ; elle vaut maintenant %s"},
    {2140,
     "The web server cannot listen on port %u: ports below 1024 need administrator privileges. "
     "Choose a port such as 8080 in the project's properties.",
     "Le serveur web ne peut pas écouter sur le port %u : les ports inférieurs à 1024 demandent "
     "les droits d'administrateur. Choisissez un port comme 8080 dans les propriétés du projet."},
    {2141,
     "The web server cannot listen on port %u: another program already uses it. Stop that "
     "program or choose another port in the project's properties.",
     "Le serveur web ne peut pas écouter sur le port %u : un autre programme l'utilise déjà. "
     "Arrêtez ce programme ou choisissez un autre port dans les propriétés du projet."},
    {2142, "The web server cannot listen on port %u: %e",
     "Le serveur web ne peut pas écouter sur le port %u : %e"},
    {2145, "The web server stays stopped: a setting in %s is wrong: %s",
     "Le serveur web reste arrêté : un réglage de %s est erroné : %s"},
    {2146,
     "The setting webmaxage in %s is not a whole number of milliseconds from 0 to 60000: "
     "%s; device values are shared for at most 200 ms",
     "Le réglage webmaxage de %s n'est pas un nombre entier de millisecondes de 0 à 60000 : "
     "%s ; les valeurs des équipements sont partagées pendant 200 ms au plus"},
    {2147,
     "The setting webpublish in %s is not a broker address with a topic prefix "
     "(mqtt://host:port/prefix): %s; nothing is published",
     "Le réglage webpublish de %s n'est pas une adresse de courtier avec un préfixe de sujet "
     "(mqtt://hôte:port/préfixe) : %s ; rien n'est publié"},
    {2150, "Server access",
     "Accès au serveur"},
    {2151, "Listen address (empty: every address)",
     "Adresse d'écoute (vide : toutes les adresses)"},
    {2152, "Clients allowed (empty: everyone)",
     "Clients autorisés (vide : tous)"},
    {2153, "Clients allowed to write (empty: everyone)",
     "Clients autorisés à écrire (vide : tous)"},
    {2154, "Users file (empty: no sign-in)",
     "Fichier des utilisateurs (vide : pas d'identification)"},
    {2155, "Anyone allowed may read without signing in",
     "Tout client autorisé peut lire sans s'identifier"},
    {2156, "HTTP only",
     "HTTP seulement"},
    {2157, "HTTPS with a certificate made for this machine",
     "HTTPS avec un certificat fait pour cette machine"},
    {2158, "HTTPS with these files:",
     "HTTPS avec ces fichiers :"},
    {2159, "Certificate (PEM)",
     "Certificat (PEM)"},
    {2160, "Private key (PEM)",
     "Clé privée (PEM)"},
    {2161, "Add user...",
     "Ajouter un utilisateur..."},
    {2162, "Remove",
     "Supprimer"},
    {2163, "Change role",
     "Changer de rôle"},
    {2164, "User name",
     "Nom d'utilisateur"},
    {2165, "Password (at least 8 characters)",
     "Mot de passe (8 caractères au moins)"},
    {2166, "Password again",
     "Mot de passe (encore)"},
    {2167, "Operator (may write)",
     "Opérateur (peut écrire)"},
    {2168, "Sign-in needs HTTPS: choose a certificate, so that passwords never travel in clear.",
     "L'identification demande HTTPS : choisissez un certificat, pour que les mots de passe ne circulent jamais en clair."},
    {2169, "The users file %s cannot be used: %s",
     "Le fichier des utilisateurs %s ne peut pas être utilisé : %s"},
    {2170, "HTTPS cannot be started: %s",
     "HTTPS ne peut pas démarrer : %s"},
    {2171, "The two passwords differ.",
     "Les deux mots de passe diffèrent."},
    {2172, "A password has at least 8 characters.",
     "Un mot de passe a au moins 8 caractères."},
    {2173, "A user name is 1 to 64 characters, without ':' or blanks.",
     "Un nom d'utilisateur a de 1 à 64 caractères, sans ':' ni espace."},
    {2174, "HTTPS certificate SHA-256 fingerprint: %s",
     "Empreinte SHA-256 du certificat HTTPS : %s"},
    {2175, "Users",
     "Utilisateurs"},
    {2176, "The settings cannot be saved: %s",
     "Les réglages ne peuvent pas être enregistrés : %s"},
    {2200, "Edit", "Edition"},
    {2201, "Undo\tCtrl+Z", "Annuler\tCtrl+Z"},
    {2202, "Redo\tCtrl+Y", "Rétablir\tCtrl+Y"},
    {2203, "Move up\tAlt+Up", "Monter\tAlt+Up"},
    {2204, "Move down\tAlt+Down", "Descendre\tAlt+Down"},
    {2205, "Quit\tCtrl+Q", "Quitter\tCtrl+Q"},
    {2210,
     "The working directory is removed when Tessora ends. Save the sketch and the index.htm it "
     "carries to a directory of your choice?",
     "Le répertoire de travail est supprimé quand Tessora se termine. Enregistrer le croquis et "
     "le fichier index.htm qu'il contient dans un répertoire de votre choix ?"},
    {2211, "Directory for the sketch and its index.htm",
     "Répertoire pour le croquis et son fichier index.htm"},
    {2212,
     "The sketch was saved as\n%s\nand the page it carries as\n%s\nOpen the sketch in the "
     "Arduino software (copy it into a sketch) and upload it, or copy index.htm to the SD card "
     "yourself.",
     "Le croquis a été enregistré sous\n%s\net la page qu'il contient sous\n%s\nOuvrez le "
     "croquis dans le logiciel Arduino (copiez-le dans un croquis) et téléversez-le, ou copiez "
     "vous-même index.htm sur la carte SD."},
    {2220,
     "A link uses gateway %s. Without it, its widget shows no communication. Delete the "
     "gateway?",
     "Un lien utilise la passerelle %s. Sans elle, son widget indique l'absence de "
     "communication. Supprimer la passerelle ?"},
    {2221,
     "%s links use gateway %s. Without it, their widgets show no communication. Delete the "
     "gateway?",
     "%s liens utilisent la passerelle %s. Sans elle, leurs widgets indiquent l'absence de "
     "communication. Supprimer la passerelle ?"},
    {2230, "%s: enter a whole number from %s to %s", "%s : entrez un nombre entier de %s à %s"},
    {2231, "%s: enter a number from %s to %s", "%s : entrez un nombre de %s à %s"},
    {2232, "%s: enter a number of at least %s", "%s : entrez un nombre supérieur ou égal à %s"},
    {2233, "%s: enter a number", "%s : entrez un nombre"},
    {2234,
     "The page has links, but the web server is off, so its widgets show no live values: set "
     "\"Activate web server\" of the project to True to see them.",
     "La page a des liens, mais le serveur Web est arrêté : ses widgets ne montrent pas de "
     "valeurs en direct. Mettez \"Activate web server\" du projet à True pour les voir."},
    {2240, "Corvane link", "Lien Corvane"},
    {2241, "Corvane table link", "Lien table Corvane"},
    {2242, "Simora link", "Lien Simora"},
    {2243, "Unity link", "Lien Unity"},
    {2244, "S7 link", "Lien S7"},
    {2245, "KX link", "Lien KX"},
    {2246, "S7-1200 link", "Lien S7-1200"},
    {2247, "S7-1200 table link", "Lien table S7-1200"},
    {2248, "Arduino link", "Lien Arduino"},
    {2249, "Arduino table link", "Lien table Arduino"},
    {2250, "Modbus link", "Lien Modbus"},
    {2251, "MQTT link", "Lien MQTT"},
};

bool IsFrenchLocale(const char* value) {
    return std::strncmp(value, "fr", 2) == 0 && (value[2] == '\0' || value[2] == '_' ||
                                                  value[2] == '.' || value[2] == '@');
}

}  // namespace

Language SystemLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return IsFrenchLocale(value) ? Language::French : Language::English;
    }
    return Language::English;
}

std::string LoadString(int id, Language language) {
    for (const Entry& e : kTable) {
        if (e.id != id) continue;
        const char* text = language == Language::French ? e.french : e.english;
        return text ? text : "";
    }
    return {};
}

std::string LoadString(int id) { return LoadString(id, SystemLanguage()); }

}  // namespace tsr
