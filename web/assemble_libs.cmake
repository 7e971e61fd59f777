# Assembles the program library directory "libs" from the npm packages in
# web/node_modules and our own files in web/.
#
#   cmake -DWEB_DIR=<source>/web -DLIBS_DIR=<build>/libs -P assemble_libs.cmake
#
# The generated pages reference the libraries by the names below, and so does
# every saved project (the project templates carry them), so the names stay
# fixed whatever version the npm packages bring; web/README.md explains.
# The directory ends up holding exactly these files: anything else in it is
# removed, because the whole directory is copied into every output directory.

cmake_minimum_required(VERSION 3.25)

foreach(var WEB_DIR LIBS_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "assemble_libs.cmake: ${var} is not set")
  endif()
endforeach()

set(MODULES "${WEB_DIR}/node_modules")

# <name in libs> <source, relative to web/>
set(LIBRARY_FILES
  "jquery-1.10.2.min.js"        "node_modules/jquery/dist/jquery.min.js"
  "jquery.mobile-1.3.2.min.js"  "node_modules/jquery-mobile/dist/jquery.mobile.min.js"
  "jquery.mobile-1.3.2.min.css" "node_modules/jquery-mobile/dist/jquery.mobile.min.css"
  "images/ajax-loader.gif"      "node_modules/jquery-mobile/dist/images/ajax-loader.gif"
  "jquery.knob.js"              "node_modules/jquery-knob/js/jquery.knob.js"
  "jquery.jqplot.min.js"        "node_modules/jqplot/jquery.jqplot.min.js"
  "jquery.jqplot.css"           "node_modules/jqplot/jquery.jqplot.min.css"
  "s7wsgateway.js"              "s7wsgateway.js"
  "tsrlink.css"                 "tsrlink.css"
  "tsrpanel.css"                "tsrpanel.css"
  "cache.manifest"              "cache.manifest"
  "aticon.png"                  "aticon.png"
  "startup.png"                 "startup.png")

if(NOT IS_DIRECTORY "${MODULES}")
  message(FATAL_ERROR
    "The web libraries are not installed: ${MODULES} is missing.\n"
    "Install them with:  (cd ${WEB_DIR} && npm ci --no-audit --no-fund)\n"
    "(./tessora.sh build does this for you).")
endif()

# The installed packages must be the versions web/package.json pins; a tree
# left over from an older lockfile would otherwise ship other libraries.
file(READ "${WEB_DIR}/package.json" manifest)
string(JSON dependency_count LENGTH "${manifest}" dependencies)
math(EXPR last "${dependency_count} - 1")
set(stale "")
foreach(i RANGE ${last})
  string(JSON package MEMBER "${manifest}" dependencies ${i})
  string(JSON wanted GET "${manifest}" dependencies "${package}")
  set(package_json "${MODULES}/${package}/package.json")
  if(NOT EXISTS "${package_json}")
    string(APPEND stale "\n  ${package}: not installed, ${wanted} wanted")
    continue()
  endif()
  file(READ "${package_json}" installed_manifest)
  string(JSON installed GET "${installed_manifest}" version)
  if(NOT installed STREQUAL wanted)
    string(APPEND stale "\n  ${package}: ${installed} installed, ${wanted} wanted")
  endif()
endforeach()
if(stale)
  message(FATAL_ERROR
    "web/node_modules does not match web/package.json:${stale}\n"
    "Reinstall with:  (cd ${WEB_DIR} && npm ci --no-audit --no-fund)")
endif()

list(LENGTH LIBRARY_FILES count)
math(EXPR last "${count} - 1")
set(wanted_names "")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET LIBRARY_FILES ${i} name)
  list(GET LIBRARY_FILES ${j} source)
  if(NOT EXISTS "${WEB_DIR}/${source}")
    message(FATAL_ERROR "web/${source} is missing; it becomes libs/${name}.")
  endif()
  get_filename_component(parent "${LIBS_DIR}/${name}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  file(COPY_FILE "${WEB_DIR}/${source}" "${LIBS_DIR}/${name}" ONLY_IF_DIFFERENT)
  list(APPEND wanted_names "${name}")
endforeach()

# Remove what is not ours: files of an earlier layout, then empty folders.
file(GLOB_RECURSE present RELATIVE "${LIBS_DIR}" LIST_DIRECTORIES false "${LIBS_DIR}/*")
foreach(name IN LISTS present)
  if(NOT name IN_LIST wanted_names)
    file(REMOVE "${LIBS_DIR}/${name}")
  endif()
endforeach()
file(GLOB_RECURSE folders RELATIVE "${LIBS_DIR}" LIST_DIRECTORIES true "${LIBS_DIR}/*")
list(SORT folders ORDER DESCENDING)
foreach(name IN LISTS folders)
  if(IS_DIRECTORY "${LIBS_DIR}/${name}")
    file(GLOB inside "${LIBS_DIR}/${name}/*")
    if(NOT inside)
      file(REMOVE_RECURSE "${LIBS_DIR}/${name}")
    endif()
  endif()
endforeach()
