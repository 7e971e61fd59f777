#!/usr/bin/env python3
"""Writes the object reference of the user manual from the object catalogue.

The tables of the chapter "Object reference" / "Référence des objets" in tsr_e.md and tsr_f.md
are generated from resources/catalogue.json: one table per group of object types, with the
object's icon, name, key and placement, its purpose and its main properties (the grid label, the
attribute key, the default and what the property does). The purposes and the property texts are
written here, in English and in French; names, labels, keys and defaults come from the catalogue.

    python3 docs/manual/catalogue_tables.py           rewrite the tables in both manuals
    python3 docs/manual/catalogue_tables.py --check   exit 1 when a manual is not up to date

The generated text replaces everything between the lines "<!-- catalogue:begin -->" and
"<!-- catalogue:end -->" of each manual.
"""

import argparse
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
BEGIN = "<!-- catalogue:begin -->"
END = "<!-- catalogue:end -->"

# The item texts of the library tree, where they differ from the display name; None: no item.
LIBRARY_ITEM = {
    "project": None,
    "radiob": "Radio button",
    "iframe": "Iframe",
    "plist": "List view (parent)",
    "clist": "List view (child)",
    "corvanegateway": "Corvane Gateway",
    "cvnlink": "Link item value with one Corvane variable",
    "cvnslink": "Set item value from Corvane variables table",
    "smlink": "Link item value with one Simora Behavior",
    "unigateway": "Schneider Electric Unity simulator or M340 Gateway",
    "unitylink": "Link item value with one Unity simulator or M340 variable",
    "s7ipgateway": "Siemens S7 IP Gateway",
    "s7iplink": "Link item value with one S7 IP variable",
    "s71200wsgateway": "Siemens S71200 Embedded Webserver Gateway",
    "s71200webserverlink": "Link item value with one Embedded S71200 Webserver variable",
    "s71200webserverslink": "Set item value from Embedded S71200 Webserver variables table",
    "arduinowsgateway": "Arduino Embedded Webserver Gateway",
    "arduinowebserverlink": "Link item value with one Embedded Arduino Webserver variable",
    "arduinowebserverslink": None,
    "kxlink": "Link item value with one KX variable",
    "modbuslink": "Link item value with one Modbus TCP device variable",
    "mqttgateway": "MQTT Broker Gateway",
    "mqttlink": "Link item value with one MQTT topic",
}

# Where widgets and most containers may stand.
CONTAINERS = ["page", "header", "footer", "hgroup", "vgroup", "form", "div", "span", "caco",
              "clist"]

GROUPS = [
    ("project", ["project", "page", "script"]),
    ("layout", ["header", "footer", "hgroup", "vgroup", "form", "div", "span", "paco", "caco",
                "plist", "clist", "iframe"]),
    ("widgets", ["button", "switch", "checkb", "radiob", "label", "textinput", "textarea", "slider",
                 "knob", "plot"]),
    ("events", ["onclickgoto", "onclickdlg", "onclickscript", "onchangescript", "oninputscript"]),
    ("gateways", ["corvanegateway", "smgateway", "unigateway", "s7ipgateway", "kxgateway",
                  "sqllitegateway", "printgateway", "dllgateway", "s71200wsgateway",
                  "arduinowsgateway", "modbusgateway", "mqttgateway"]),
    ("links", ["cvnlink", "cvnslink", "smlink", "unitylink", "s7iplink", "kxlink",
               "s71200webserverlink", "s71200webserverslink", "arduinowebserverlink",
               "arduinowebserverslink", "modbuslink", "mqttlink"]),
]

TEXT = {
    "en": {
        "columns": ("Object", "Purpose", "Main properties: grid label (key, default): use"),
        "library": "Library item:",
        "nolibrary": "Not offered in the library.",
        "under": "Placed under:",
        "top": "nothing (the top of every project)",
        "anycontainer": "a page or any container",
        "except": "except",
        "empty": "empty",
        "default": "default",
        "quotes": ('"', '"'),
        "colon": ": ",
        "long": "a long text",
        "templates": "Templates (expert mode):",
        "none": "Only templates, visible in expert mode.",
        "groups": {
            "project": ("Project, pages and scripts",
                        "The project is the top of the tree; pages, free scripts and gateways "
                        "stand directly under it."),
            "layout": ("Layout and containers",
                       "Containers arrange the widgets of a page. In this chapter, *a container* "
                       "means a Header, Footer, Horizontal group, Vertical group, Form, Div, Span, "
                       "Accordion (child) or List (child)."),
            "widgets": ("Widgets",
                        "Widgets are what the operator sees and touches. Most of them can carry "
                        "event objects and links (see the following groups)."),
            "events": ("Events",
                       "Event objects stand under a widget and add a behaviour to it: go to a "
                       "page, open a page as a dialog, or run a piece of JavaScript."),
            "gateways": ("Gateways",
                         "Gateways stand directly under the project. Each one names a device or a "
                         "service and carries the Id by which links and scripts refer to it. The "
                         "chapter *Gateways and links* explains how to connect each family."),
            "links": ("Links",
                      "A link stands under a widget (a Knob, Switch, Button, Check box, Radio "
                      "Button, Slider, Text input or Plot) and binds the widget's value to one "
                      "device variable; the *variables table* links stand under a Plot only and "
                      "draw a run of consecutive variables."),
        },
        "purpose": {
            "project": "The project itself: switches the web server on and off, sets its port, the "
                       "offline mode and the debug messages. Its templates hold the document's "
                       "head and the script libraries.",
            "page": "One screen of the application (a jQuery Mobile page). The page named in the "
                    "last selection is the one the application opens on.",
            "script": "A free piece of JavaScript written into the document, for functions shared "
                      "by the event scripts.",
            "header": "Title bar at the top of a page.",
            "footer": "Bar fixed at the bottom of a page.",
            "hgroup": "Puts its buttons, check boxes or radio buttons side by side in one bar.",
            "vgroup": "Stacks its buttons, check boxes or radio buttons in one block.",
            "form": "An HTML form around its widgets.",
            "div": "A block with a CSS style, to size or place its content.",
            "span": "An inline element with a CSS style. It is written right after its parent's "
                    "opening; inside an Accordion (child) it becomes part of the item's title.",
            "paco": "A set of collapsible sections; holds Accordion (child) objects.",
            "caco": "One collapsible section of an accordion: a title and content.",
            "plist": "A list view; holds List (child) items.",
            "clist": "One item of a list view; may hold widgets.",
            "iframe": "Shows another web page inside the panel.",
            "button": "A push button. Under it: an event (go to a page, open a dialog, run a "
                      "script) or a link, which writes 1 to the variable when pressed.",
            "switch": "An On/Off flip switch. Linked, it shows the variable (1 = on) and writes 1 "
                      "or 0.",
            "checkb": "A check box. Linked, it shows the variable (1 = checked) and writes 1 or 0.",
            "radiob": "One choice of a group of radio buttons (same Name). Linked, the group "
                      "checks the button whose Value equals the variable and writes the Value of "
                      "the button chosen.",
            "label": "A fixed text.",
            "textinput": "A one-line text field. Linked, it shows the variable and writes the "
                         "text when Enter is pressed or the field is left.",
            "textarea": "A multi-line text field.",
            "slider": "A horizontal slider with its number field. Linked, it shows the variable "
                      "and writes the value when the finger or mouse button is released.",
            "knob": "A round dial (jQuery Knob). Linked, it shows the variable and writes the "
                    "value on release.",
            "plot": "A chart (jqPlot). Linked, it adds one point per read (a trend over time); "
                    "a variables-table link draws a run of variables instead.",
            "onclickgoto": "Makes its button open another page of the application.",
            "onclickdlg": "Makes its button open another page as a pop-up dialog.",
            "onclickscript": "Runs JavaScript when its button, check box or radio button is "
                             "clicked.",
            "onchangescript": "Runs JavaScript when the value of its switch, slider or knob "
                              "changes.",
            "oninputscript": "Runs JavaScript at every keystroke in its text input.",
            "corvanegateway": "The Corvane automation runtime on the same computer (route /CVN).",
            "smgateway": "The Simora 3D simulator on the same computer (route /SM).",
            "unigateway": "A Schneider Electric Unity simulator or Modicon M340 controller, Modbus "
                          "TCP port 502 (route /UNI).",
            "s7ipgateway": "A Siemens S7 controller over ISO-on-TCP, port 102 (route /S7).",
            "kxgateway": "The KX gateway program on the same computer, through shared memory "
                         "(route /KX).",
            "sqllitegateway": "An SQLite database file for the pages' SQL statements (route /SQL).",
            "printgateway": "A printer (CUPS) or a PDF file on which pages print texts "
                            "(route /PRN).",
            "dllgateway": "A user shared library (.so) whose functions pages call by name "
                          "(route /DLL).",
            "s71200wsgateway": "The embedded web server of a Siemens S7-1200 controller, reached "
                               "directly by the browser.",
            "arduinowsgateway": "The web server of an Arduino board, reached directly by the "
                                "browser.",
            "modbusgateway": "A Modbus TCP device (controller, drive, meter, remote I/O, serial "
                             "gateway), port 502, at one unit identifier (route /MB).",
            "mqttgateway": "An MQTT broker: the topics its clients publish are read, the pages' "
                           "writes published (route /MQ).",
            "cvnlink": "Binds the widget to one Corvane variable.",
            "cvnslink": "Draws a run of consecutive Corvane variables on the plot.",
            "smlink": "Binds the widget to one Simora behavior.",
            "unitylink": "Binds the widget to one Unity simulator or M340 variable.",
            "modbuslink": "Binds the widget to one coil, discrete input or register of a Modbus "
                          "TCP device.",
            "mqttlink": "Binds the widget to one MQTT topic, or one field of its JSON payload.",
            "s7iplink": "Binds the widget to one S7 variable.",
            "kxlink": "Binds the widget to one variable of the KX gateway program.",
            "s71200webserverlink": "Binds the widget to one S7-1200 variable through the "
                                   "controller's web server.",
            "s71200webserverslink": "Draws a run of consecutive S7-1200 variables on the plot.",
            "arduinowebserverlink": "Binds the widget to one variable of the Arduino sketch (not "
                                    "under a Plot).",
            "arduinowebserverslink": "Found only in older project files; produces nothing.",
        },
        "prop": {
            "text": "text shown on or beside the widget",
            "id": "identifier in the page, used by scripts and links; keep it unique",
            "style": "extra attributes of the element (jQuery Mobile `data-…` attributes)",
            "setup": "extra attributes of the bar, e.g. `data-theme=\"b\"`",
            "value": "initial value",
            "min": "smallest value",
            "max": "largest value",
            "step": "increment",
            "readonly": "True: the operator cannot change it",
            "title": "title text of the item",
            "script": "JavaScript run on the event; double quotes become apostrophes",
            "pagename": "name of an existing page",
            "address": "script expression for the base address when the device is not reached "
                       "through the server that delivered the page; a fixed address in quotes; "
                       "empty: that server",
            "variable": "name of the device variable",
            "refreshperiod": "reading period in milliseconds",
            "gatewayid": "Id of the gateway that serves the link",
            "len": "number of consecutive variables",
            "type": "DEC, or FLOATING_POINT for a double word holding a real",
        },
        "typeprop": {
            ("project", "webserveron"): "True: the integrated web server runs",
            ("project", "webserverport"): "TCP port of the web server",
            ("project", "offline"): "True: the document names cache.manifest, so browsers keep "
                                    "the application for offline use",
            ("project", "webdebugmsg"): "True: every request handled by the server is logged",
            ("page", "name"): "unique name; the anchor of the page and the target of "
                              "On Click Goto Page",
            ("page", "align"): "alignment of the content: Left, Center or Right "
                               "(double-click to change)",
            ("script", "script"): "the JavaScript, edited in the script editor",
            ("button", "style"): "extra attributes, e.g. "
                                 "`data-icon=\"gear\" data-inline=\"true\"`",
            ("switch", "texton"): "text of the On position",
            ("switch", "textoff"): "text of the Off position",
            ("radiob", "name"): "group name: buttons with the same name form one group",
            ("radiob", "value"): "value written, and matched on reading, for this button",
            ("textinput", "value"): "initial text",
            ("textarea", "value"): "initial text",
            ("div", "style"): "CSS declarations, e.g. `width:50%`",
            ("span", "style"): "CSS declarations",
            ("plot", "style"): "CSS size of the chart",
            ("plot", "setup"): "jqPlot options of the chart",
            ("plot", "script"): "JavaScript that defines the data renderer (by default it adds "
                                "15 random points)",
            ("plot", "length"): "number of points kept per series",
            ("knob", "width"): "diameter in pixels",
            ("knob", "thickness"): "thickness of the arc, as a fraction of the radius",
            ("knob", "cursor"): "0: a filled arc; more: a cursor of that size",
            ("knob", "displayvalue"): "True: the value is shown in the middle",
            ("knob", "textafter"): "text shown after the value, e.g. a unit",
            ("knob", "fgcolor"): "colour of the arc",
            ("knob", "bgcolor"): "colour of the track (65535 is yellow)",
            ("knob", "angleoffset"): "starting angle in degrees",
            ("knob", "dataarc"): "angle covered by the dial in degrees",
            ("knob", "dprevious"): "True: shows the previous value while the operator turns it",
            ("onclickgoto", "pagename"): "name of the page to open",
            ("onclickdlg", "pagename"): "name of the page shown as a dialog",
            ("iframe", "src"): "address of the page shown",
            ("sqllitegateway", "sqlfilename"): "database file; a name without / is taken in the "
                                               "resources directory; created when missing",
            ("printgateway", "printername"): "CUPS queue name (empty: the default printer), or "
                                             "`file:PATH` to write a PDF file",
            ("dllgateway", "dllfilename"): "shared library (.so); a name without / is taken in "
                                           "the resources directory",
            ("unigateway", "ip"): "address of the simulator or controller, or `host:port`",
            ("modbusgateway", "ip"): "address of the device, or `host:port`; gateways with one "
                                     "address share its connection",
            ("modbusgateway", "unit"): "unit identifier, 0 to 255, sent in every request",
            ("modbuslink", "variable"): "coN, diN, hrN, irN (0-based addresses), hrN.B a bit; "
                                        "types :u16 :s16 :u32 :s32 :f32 and :u32le :s32le :f32le",
            ("mqttgateway", "url"): "mqtt://host:port (1883) or mqtts://host:port (8883, TLS "
                                    "checked against the system's certificates)",
            ("mqttgateway", "clientid"): "the client identifier; empty: one generated at start",
            ("mqttgateway", "retain"): "1: the pages' writes are published retained",
            ("mqttgateway", "username"): "user name given to the broker; empty: none",
            ("mqttgateway", "password"): "password given with the user name",
            ("mqttlink", "variable"): "a topic, or topic|field for a field of a JSON payload "
                                      "(a dotted path); no wildcards",
            ("s7ipgateway", "ip"): "address of the controller, or `host:port`",
            ("s7ipgateway", "ucpos"): "0 for the default connection, else the CPU's slot in "
                                      "the rack",
            ("smlink", "variable"): "name of the behavior in the Simora project",
            ("kxlink", "variable"): "KX name: variable@gateway, with $ in place of #",
            ("cvnlink", "variable"): "Corvane variable, e.g. m200, f200",
            ("cvnslink", "variable"): "first Corvane variable",
            ("unitylink", "variable"): "e.g. %MW0, %MF200, %I0.1.0",
            ("s7iplink", "variable"): "e.g. %MW0, %MD4, %I1.0, %Q2.0",
            ("s71200webserverlink", "variable"): "e.g. MW0, MD200, I1.0 (no %)",
            ("s71200webserverslink", "variable"): "first variable, e.g. MW100",
            ("arduinowebserverlink", "variable"): "name known to the sketch, e.g. m200, i1",
            ("arduinowebserverslink", "variable"): "first variable",
        },
        "gatewayid": "Id of the gateway; links name it in their Gateway Id; keep it unique",
    },
    "fr": {
        "columns": ("Objet", "Rôle",
                    "Propriétés principales : libellé (clé, défaut) : usage"),
        "library": "Élément de bibliothèque :",
        "nolibrary": "Absent de la bibliothèque.",
        "under": "Se place sous :",
        "top": "rien (le sommet de tout projet)",
        "anycontainer": "une page ou tout conteneur",
        "except": "sauf",
        "empty": "vide",
        "default": "défaut",
        "quotes": ("« ", " »"),
        "colon": " : ",
        "long": "un long texte",
        "templates": "Modèles (mode expert) :",
        "none": "Seulement des modèles, visibles en mode expert.",
        "groups": {
            "project": ("Projet, pages et scripts",
                        "Le projet est le sommet de l'arbre ; les pages, les scripts libres et "
                        "les passerelles se placent directement sous lui."),
            "layout": ("Mise en page et conteneurs",
                       "Les conteneurs disposent les widgets d'une page. Dans ce chapitre, *un "
                       "conteneur* désigne un Header, Footer, Horizontal group, Vertical group, "
                       "Form, Div, Span, Accordion (child) ou List (child)."),
            "widgets": ("Widgets",
                        "Les widgets sont ce que l'opérateur voit et manipule. La plupart "
                        "peuvent porter des objets d'événement et des liens (voir les groupes "
                        "suivants)."),
            "events": ("Événements",
                       "Les objets d'événement se placent sous un widget et lui ajoutent un "
                       "comportement : aller à une page, ouvrir une page en dialogue ou exécuter "
                       "du JavaScript."),
            "gateways": ("Passerelles",
                         "Les passerelles se placent directement sous le projet. Chacune désigne "
                         "un appareil ou un service et porte l'Id par lequel les liens et les "
                         "scripts la désignent. Le chapitre *Passerelles et liens* explique "
                         "comment raccorder chaque famille."),
            "links": ("Liens",
                      "Un lien se place sous un widget (Knob, Switch, Button, Check box, Radio "
                      "Button, Slider, Text input ou Plot) et lie sa valeur à une variable de "
                      "l'appareil ; les liens *table de variables* se placent sous un Plot "
                      "seulement et tracent une suite de variables consécutives."),
        },
        "purpose": {
            "project": "Le projet lui-même : active ou arrête le serveur Web, fixe son port, le "
                       "mode hors ligne et les messages de débogage. Ses modèles contiennent "
                       "l'en-tête du document et les bibliothèques de scripts.",
            "page": "Un écran de l'application (une page jQuery Mobile). L'application s'ouvre "
                    "sur la page de la dernière sélection.",
            "script": "Un morceau libre de JavaScript écrit dans le document, pour les fonctions "
                      "communes aux scripts d'événement.",
            "header": "Barre de titre en haut d'une page.",
            "footer": "Barre fixée en bas d'une page.",
            "hgroup": "Place ses boutons, cases à cocher ou boutons radio côte à côte dans une "
                      "barre.",
            "vgroup": "Empile ses boutons, cases à cocher ou boutons radio en un bloc.",
            "form": "Un formulaire HTML autour de ses widgets.",
            "div": "Un bloc avec un style CSS, pour dimensionner ou placer son contenu.",
            "span": "Un élément en ligne avec un style CSS. Il est écrit juste après "
                    "l'ouverture de son parent ; dans un Accordion (child), il fait partie du "
                    "titre.",
            "paco": "Un ensemble de sections repliables ; contient des Accordion (child).",
            "caco": "Une section repliable d'un accordéon : un titre et un contenu.",
            "plist": "Une liste ; contient des éléments List (child).",
            "clist": "Un élément de liste ; peut contenir des widgets.",
            "iframe": "Affiche une autre page Web dans le panneau.",
            "button": "Bouton poussoir. Sous lui : un événement (aller à une page, ouvrir un "
                      "dialogue, exécuter un script) ou un lien, qui écrit 1 dans la variable à "
                      "l'appui.",
            "switch": "Un interrupteur On/Off. Lié, il montre la variable (1 = On) et écrit 1 "
                      "ou 0.",
            "checkb": "Une case à cocher. Liée, elle montre la variable (1 = cochée) et écrit "
                      "1 ou 0.",
            "radiob": "Un choix d'un groupe de boutons radio (même Name). Lié, le groupe coche "
                      "le bouton dont la Value égale la variable et écrit la Value du bouton "
                      "choisi.",
            "label": "Un texte fixe.",
            "textinput": "Un champ de texte d'une ligne. Lié, il montre la variable et écrit le "
                         "texte à l'appui sur Entrée ou quand on quitte le champ.",
            "textarea": "Un champ de texte de plusieurs lignes.",
            "slider": "Un curseur horizontal avec son champ numérique. Lié, il montre la "
                      "variable et écrit la valeur quand le doigt ou le bouton de la souris est "
                      "relâché.",
            "knob": "Bouton rotatif (jQuery Knob). Lié, il montre la variable et écrit la "
                    "valeur au relâchement.",
            "plot": "Un graphique (jqPlot). Lié, il ajoute un point par lecture (une courbe "
                    "dans le temps) ; un lien table de variables trace plutôt une suite de "
                    "variables.",
            "onclickgoto": "Fait ouvrir par son bouton une autre page de l'application.",
            "onclickdlg": "Fait ouvrir par son bouton une autre page en dialogue.",
            "onclickscript": "Exécute du JavaScript au clic sur son bouton, sa case à cocher ou "
                             "son bouton radio.",
            "onchangescript": "Exécute du JavaScript quand la valeur de son interrupteur, "
                              "curseur ou bouton rotatif change.",
            "oninputscript": "Exécute du JavaScript à chaque frappe dans son champ de texte.",
            "corvanegateway": "Le runtime d'automatisme Corvane sur le même ordinateur "
                              "(route /CVN).",
            "smgateway": "Le simulateur 3D Simora sur le même ordinateur (route /SM).",
            "unigateway": "Un simulateur Unity de Schneider Electric ou un automate Modicon "
                          "M340, Modbus TCP port 502 (route /UNI).",
            "s7ipgateway": "Un automate Siemens S7 en ISO-on-TCP, port 102 (route /S7).",
            "kxgateway": "Le programme passerelle KX sur le même ordinateur, par mémoire "
                         "partagée (route /KX).",
            "sqllitegateway": "Un fichier de base de données SQLite pour les requêtes SQL des "
                              "pages (route /SQL).",
            "printgateway": "Une imprimante (CUPS) ou un fichier PDF sur lesquels les pages "
                            "impriment des textes (route /PRN).",
            "dllgateway": "Une bibliothèque partagée (.so) de l'utilisateur dont les pages "
                          "appellent les fonctions par leur nom (route /DLL).",
            "s71200wsgateway": "Le serveur Web intégré d'un automate Siemens S7-1200, interrogé "
                               "directement par le navigateur.",
            "arduinowsgateway": "Le serveur Web d'une carte Arduino, interrogé directement par "
                                "le navigateur.",
            "modbusgateway": "Un équipement Modbus TCP (automate, variateur, compteur, "
                             "entrées/sorties déportées, passerelle série), port 502, à un "
                             "identifiant d'unité (route /MB).",
            "mqttgateway": "Un courtier MQTT : les sujets que ses clients publient sont lus, les "
                           "écritures des pages publiées (route /MQ).",
            "cvnlink": "Lie le widget à une variable Corvane.",
            "cvnslink": "Trace sur le graphique une suite de variables Corvane consécutives.",
            "smlink": "Lie le widget à un comportement (behavior) Simora.",
            "unitylink": "Lie le widget à une variable du simulateur Unity ou du M340.",
            "modbuslink": "Lie le widget à une bobine, une entrée TOR ou un registre d'un "
                          "équipement Modbus TCP.",
            "mqttlink": "Lie le widget à un sujet MQTT, ou à un champ de son contenu JSON.",
            "s7iplink": "Lie le widget à une variable S7.",
            "kxlink": "Lie le widget à une variable du programme passerelle KX.",
            "s71200webserverlink": "Lie le widget à une variable S7-1200 par le serveur Web de "
                                   "l'automate.",
            "s71200webserverslink": "Trace sur le graphique une suite de variables S7-1200 "
                                    "consécutives.",
            "arduinowebserverlink": "Lie le widget à une variable du croquis Arduino (pas sous "
                                    "un Plot).",
            "arduinowebserverslink": "Présent seulement dans d'anciens fichiers de projet ; ne "
                                     "produit rien.",
        },
        "prop": {
            "text": "texte affiché sur le widget ou à côté",
            "id": "identifiant dans la page, utilisé par les scripts et les liens ; doit rester "
                  "unique",
            "style": "attributs supplémentaires de l'élément (attributs `data-…` de jQuery "
                     "Mobile)",
            "setup": "attributs supplémentaires de la barre, par exemple `data-theme=\"b\"`",
            "value": "valeur initiale",
            "min": "plus petite valeur",
            "max": "plus grande valeur",
            "step": "pas",
            "readonly": "True : l'opérateur ne peut pas la modifier",
            "title": "texte du titre de l'élément",
            "script": "JavaScript exécuté sur l'événement ; les guillemets deviennent des "
                      "apostrophes",
            "pagename": "nom d'une page existante",
            "address": "expression de script donnant l'adresse de base quand l'appareil n'est "
                       "pas joint par le serveur qui a fourni la page ; une adresse fixe entre "
                       "apostrophes ; vide : ce serveur",
            "variable": "nom de la variable de l'appareil",
            "refreshperiod": "période de lecture en millisecondes",
            "gatewayid": "Id de la passerelle qui sert le lien",
            "len": "nombre de variables consécutives",
            "type": "DEC, ou FLOATING_POINT pour un double mot contenant un réel",
        },
        "typeprop": {
            ("project", "webserveron"): "True : le serveur Web intégré fonctionne",
            ("project", "webserverport"): "port TCP du serveur Web",
            ("project", "offline"): "True : le document désigne cache.manifest, les navigateurs "
                                    "gardent l'application pour un usage hors ligne",
            ("project", "webdebugmsg"): "True : chaque requête traitée par le serveur est "
                                        "journalisée",
            ("page", "name"): "nom unique ; l'ancre de la page et la cible de On Click Goto Page",
            ("page", "align"): "alignement du contenu : Left, Center ou Right (double-clic pour "
                               "changer)",
            ("script", "script"): "le JavaScript, modifié dans l'éditeur de script",
            ("button", "style"): "attributs supplémentaires, par exemple "
                                 "`data-icon=\"gear\" data-inline=\"true\"`",
            ("switch", "texton"): "texte de la position On",
            ("switch", "textoff"): "texte de la position Off",
            ("radiob", "name"): "nom du groupe : les boutons de même nom forment un groupe",
            ("radiob", "value"): "valeur écrite, et comparée à la lecture, pour ce bouton",
            ("textinput", "value"): "texte initial",
            ("textarea", "value"): "texte initial",
            ("div", "style"): "déclarations CSS, par exemple `width:50%`",
            ("span", "style"): "déclarations CSS",
            ("plot", "style"): "taille CSS du graphique",
            ("plot", "setup"): "options jqPlot du graphique",
            ("plot", "script"): "JavaScript qui définit le fournisseur de données (par défaut "
                                "il ajoute 15 points aléatoires)",
            ("plot", "length"): "nombre de points gardés par série",
            ("knob", "width"): "diamètre en pixels",
            ("knob", "thickness"): "épaisseur de l'arc, en fraction du rayon",
            ("knob", "cursor"): "0 : un arc plein ; plus : un curseur de cette taille",
            ("knob", "displayvalue"): "True : la valeur est affichée au centre",
            ("knob", "textafter"): "texte affiché après la valeur, par exemple une unité",
            ("knob", "fgcolor"): "couleur de l'arc",
            ("knob", "bgcolor"): "couleur du fond de l'arc (65535 est le jaune)",
            ("knob", "angleoffset"): "angle de départ en degrés",
            ("knob", "dataarc"): "angle couvert par le cadran en degrés",
            ("knob", "dprevious"): "True : montre la valeur précédente pendant que l'opérateur "
                                   "tourne le bouton",
            ("onclickgoto", "pagename"): "nom de la page à ouvrir",
            ("onclickdlg", "pagename"): "nom de la page affichée en dialogue",
            ("iframe", "src"): "adresse de la page affichée",
            ("sqllitegateway", "sqlfilename"): "fichier de base ; un nom sans / est pris dans le "
                                               "répertoire des ressources ; créé s'il manque",
            ("printgateway", "printername"): "nom de la file CUPS (vide : l'imprimante par "
                                             "défaut), ou `file:CHEMIN` pour écrire un PDF",
            ("dllgateway", "dllfilename"): "bibliothèque partagée (.so) ; un nom sans / est pris "
                                           "dans le répertoire des ressources",
            ("unigateway", "ip"): "adresse du simulateur ou de l'automate, ou `hôte:port`",
            ("modbusgateway", "ip"): "adresse de l'équipement, ou `hôte:port` ; les passerelles "
                                     "d'une même adresse partagent sa connexion",
            ("modbusgateway", "unit"): "identifiant d'unité, 0 à 255, envoyé dans chaque requête",
            ("modbuslink", "variable"): "coN, diN, hrN, irN (adresses à partir de 0), hrN.B un "
                                        "bit ; types :u16 :s16 :u32 :s32 :f32 et :u32le :s32le "
                                        ":f32le",
            ("mqttgateway", "url"): "mqtt://hôte:port (1883) ou mqtts://hôte:port (8883, TLS "
                                    "vérifié avec les certificats du système)",
            ("mqttgateway", "clientid"): "l'identifiant du client ; vide : créé au démarrage",
            ("mqttgateway", "retain"): "1 : les écritures des pages sont publiées retenues",
            ("mqttgateway", "username"): "nom d'utilisateur donné au courtier ; vide : aucun",
            ("mqttgateway", "password"): "mot de passe donné avec le nom d'utilisateur",
            ("mqttlink", "variable"): "un sujet, ou sujet|champ pour un champ d'un contenu JSON "
                                      "(chemin à points) ; pas de jokers",
            ("s7ipgateway", "ip"): "adresse de l'automate, ou `hôte:port`",
            ("s7ipgateway", "ucpos"): "0 pour la connexion par défaut, sinon l'emplacement de la "
                                      "CPU dans le rack",
            ("smlink", "variable"): "nom du comportement dans le projet Simora",
            ("kxlink", "variable"): "nom KX : variable@passerelle, avec $ à la place de #",
            ("cvnlink", "variable"): "variable Corvane, par exemple m200, f200",
            ("cvnslink", "variable"): "première variable Corvane",
            ("unitylink", "variable"): "par exemple %MW0, %MF200, %I0.1.0",
            ("s7iplink", "variable"): "par exemple %MW0, %MD4, %I1.0, %Q2.0",
            ("s71200webserverlink", "variable"): "par exemple MW0, MD200, I1.0 (sans %)",
            ("s71200webserverslink", "variable"): "première variable, par exemple MW100",
            ("arduinowebserverlink", "variable"): "nom connu du croquis, par exemple m200, i1",
            ("arduinowebserverslink", "variable"): "première variable",
        },
        "gatewayid": "Id de la passerelle ; les liens la désignent par leur Gateway Id ; doit "
                     "rester unique",
    },
}

GATEWAYS = set(GROUPS[4][1])


def escape_plain(text):
    """Escapes plain text for a pipe-table cell."""
    out = text.replace("\\", "\\\\").replace("|", "\\|").replace("*", "\\*")
    out = out.replace("<", "&lt;").replace(">", "&gt;").replace("$", "\\$")
    out = out.replace("~", "\\~").replace("^", "\\^").replace("_", "\\_")
    return out


NBSP = "\u00a0"


def french_spacing(text):
    """French typography outside code spans: no line break inside « », nor before : ; ? !"""
    parts = text.split("`")
    for i in range(0, len(parts), 2):
        part = parts[i].replace("« ", "«" + NBSP).replace(" »", NBSP + "»")
        for mark in (":", ";", "?", "!"):
            part = part.replace(" " + mark, NBSP + mark)
        parts[i] = part
    return "`".join(parts)


def md_escape(text):
    """Escapes text for a pipe-table cell; parts between backticks become code spans."""
    parts = text.split("`")
    return "".join(code(part) if i % 2 else escape_plain(part) for i, part in enumerate(parts))


def code(text):
    """A code span for a pipe-table cell."""
    text = text.replace("|", "\\|")
    fence = "``" if "`" in text else "`"
    pad = " " if text.startswith("`") or text.endswith("`") else ""
    return f"{fence}{pad}{text}{pad}{fence}"


def default_text(prop, t):
    value = prop["default"]
    if prop["kind"] == "Boolean" and value in ("0", "1"):
        return "False" if value == "0" else "True"
    if value == "":
        return t["empty"]
    if len(value) > 40 or "\n" in value or "\r" in value:
        return t["long"]
    return code(value)


def placement(entry, names, t):
    parents = entry["parents"]
    if not parents:
        return t["top"]
    if len(parents) >= 7 and set(parents) <= set(CONTAINERS):
        missing = [names[k] for k in CONTAINERS if k not in parents and k != "page"]
        text = t["anycontainer"]
        if missing:
            text += f" {t['except']} " + ", ".join(missing)
        return md_escape(text)
    return md_escape(", ".join(names[k] for k in parents))


def object_cell(entry, names, t):
    key = entry["key"]
    parts = [f"![](../../resources/icons/{key}.png){{.icon}} **{md_escape(entry['name'])}**",
             code(key)]
    item = LIBRARY_ITEM.get(key, entry["name"])
    if item is None:
        parts.append(f"*{md_escape(t['nolibrary'])}*")
    elif item != entry["name"]:
        open_quote, close_quote = t["quotes"]
        parts.append(f"*{md_escape(t['library'])}* {open_quote}{md_escape(item)}{close_quote}")
    parts.append(f"*{md_escape(t['under'])}* {placement(entry, names, t)}")
    return "<br>".join(parts)


# The grid shows these catalogue labels corrected (src/designer/property_grid.cpp, GridLabel);
# the catalogue itself stays as the reference copy has it.
LABEL_FIXES = {"Alignement": "Alignment", "Backfround color": "Background color"}


def properties_cell(entry, t):
    key = entry["key"]
    lines = []
    templates = []
    for prop in entry["properties"]:
        if prop["kind"] == "Template":
            templates.append(prop["key"])
            continue
        explain = t["typeprop"].get((key, prop["key"]))
        if explain is None and prop["key"] == "id" and key in GATEWAYS:
            explain = t["gatewayid"]
        if explain is None:
            explain = t["prop"][prop["key"]]
        label = LABEL_FIXES.get(prop["label"], prop["label"])
        lines.append(f"**{md_escape(label)}** ({code(prop['key'])}, {t['default']} "
                     f"{default_text(prop, t)}){t['colon']}{md_escape(explain)}")
    if not lines:
        lines.append(md_escape(t["none"]))
    if templates:
        lines.append(f"*{md_escape(t['templates'])}* " + ", ".join(code(k) for k in templates))
    return "<br>".join(lines)


def render(catalogue, lang):
    t = TEXT[lang]
    by_key = {entry["key"]: entry for entry in catalogue}
    names = {entry["key"]: entry["name"] for entry in catalogue}
    listed = [k for _, keys in GROUPS for k in keys]
    missing = sorted(set(by_key) - set(listed))
    if missing or len(listed) != len(set(listed)):
        raise SystemExit(f"catalogue_tables.py: groups do not cover the catalogue: {missing}")
    out = []
    for group, keys in GROUPS:
        title, intro = t["groups"][group]
        if lang == "fr":
            intro = french_spacing(intro)
        out.append(f"## {title} {{#ref-{group}}}\n")
        out.append(f"{intro}\n")
        header = "| {} | {} | {} |".format(*t["columns"])
        out.append(french_spacing(header) if lang == "fr" else header)
        out.append("|" + "-" * 26 + "|" + "-" * 28 + "|" + "-" * 46 + "|")
        for key in keys:
            entry = by_key[key]
            row = (f"| {object_cell(entry, names, t)} | {md_escape(t['purpose'][key])} | "
                   f"{properties_cell(entry, t)} |")
            out.append(french_spacing(row) if lang == "fr" else row)
        out.append("")
    return "\n".join(out)


def replace_block(text, block, path):
    start = text.find(BEGIN)
    end = text.find(END)
    if start < 0 or end < start:
        raise SystemExit(f"catalogue_tables.py: {path} lacks the {BEGIN} / {END} lines")
    return text[: start + len(BEGIN)] + "\n\n" + block + "\n" + text[end:]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--check", action="store_true",
                        help="exit 1 when a manual is not up to date")
    parser.add_argument("--catalogue", default=os.path.join(ROOT, "resources", "catalogue.json"))
    args = parser.parse_args()
    with open(args.catalogue, encoding="utf-8") as f:
        catalogue = json.load(f)
    stale = []
    for lang, name in (("en", "tsr_e.md"), ("fr", "tsr_f.md")):
        path = os.path.join(HERE, name)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        updated = replace_block(text, render(catalogue, lang), path)
        if updated == text:
            continue
        if args.check:
            stale.append(name)
        else:
            with open(path, "w", encoding="utf-8") as f:
                f.write(updated)
    if stale:
        print("catalogue_tables.py: not up to date: " + ", ".join(stale)
              + " (run python3 docs/manual/catalogue_tables.py)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
