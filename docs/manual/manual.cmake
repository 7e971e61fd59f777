# The user manual, in English (tsr_e) and French (tsr_f), as HTML and PDF beside the programs:
#
#   ${CMAKE_BINARY_DIR}/tsr_e.html  tsr_f.html   pandoc, standalone, everything embedded
#   ${CMAKE_BINARY_DIR}/tsr_e.pdf   tsr_f.pdf    headless Chromium printing the HTML (A4)
#
# Included from the top-level CMakeLists.txt:  include(docs/manual/manual.cmake)
# It adds the target tessora_manual (built with ALL). Without pandoc nothing is built; without
# Chromium only the HTML files are. The sources are tsr_e.md, tsr_f.md, manual.css and the type
# icons of resources/icons; the object reference tables in the .md files are written by
# catalogue_tables.py from resources/catalogue.json (run it after changing the catalogue).
#
# The same file, run as a script (cmake -P), prints one HTML file to PDF:
#   cmake -DMANUAL_HTML=in.html -DMANUAL_PDF=out.pdf -DMANUAL_PROFILE=dir
#         -DCHROMIUM=/usr/bin/chromium [-DTIMEOUT=/usr/bin/timeout] -P manual.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  # ---- Script mode: print MANUAL_HTML to MANUAL_PDF with headless Chromium.
  foreach(var MANUAL_HTML MANUAL_PDF MANUAL_PROFILE CHROMIUM)
    if(NOT DEFINED ${var})
      message(FATAL_ERROR "manual.cmake: ${var} is not set")
    endif()
  endforeach()
  # A fresh profile each time, under the build directory: works as root, without a display and
  # without touching the user's own browser profile.
  file(REMOVE_RECURSE "${MANUAL_PROFILE}")
  file(MAKE_DIRECTORY "${MANUAL_PROFILE}")
  file(REMOVE "${MANUAL_PDF}")
  string(REPLACE " " "%20" url "file://${MANUAL_HTML}")
  set(wrapper)
  if(TIMEOUT)
    # Never hang the build: Chromium is stopped after 120 s (and killed 10 s later).
    set(wrapper ${TIMEOUT} -k 10 120)
  endif()
  execute_process(
    COMMAND ${wrapper} ${CHROMIUM}
            --headless --no-sandbox --disable-gpu --disable-dev-shm-usage
            --no-first-run --no-default-browser-check --disable-extensions
            --disable-background-networking --disable-sync --mute-audio
            --user-data-dir=${MANUAL_PROFILE}
            --no-pdf-header-footer --print-to-pdf-no-header
            --print-to-pdf=${MANUAL_PDF}
            ${url}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output
    TIMEOUT 150)
  file(REMOVE_RECURSE "${MANUAL_PROFILE}")
  if(NOT result EQUAL 0 OR NOT EXISTS "${MANUAL_PDF}")
    file(REMOVE "${MANUAL_PDF}")
    message(FATAL_ERROR "manual.cmake: Chromium could not print ${MANUAL_HTML} "
                        "(result ${result}):\n${output}")
  endif()
  file(SIZE "${MANUAL_PDF}" size)
  if(size LESS 1000)
    file(REMOVE "${MANUAL_PDF}")
    message(FATAL_ERROR "manual.cmake: ${MANUAL_PDF} is empty:\n${output}")
  endif()
  return()
endif()

# ---- Configure mode: the rules of the target tessora_manual.

set(TESSORA_MANUAL_DIR ${CMAKE_CURRENT_LIST_DIR})
get_filename_component(TESSORA_MANUAL_ROOT "${TESSORA_MANUAL_DIR}/../.." ABSOLUTE)

find_program(PANDOC_EXECUTABLE pandoc)
find_program(CHROMIUM_EXECUTABLE NAMES chromium chromium-browser google-chrome-stable google-chrome)
find_program(TIMEOUT_EXECUTABLE timeout)

if(NOT PANDOC_EXECUTABLE)
  message(STATUS "Manual: pandoc not found; tsr_e and tsr_f (HTML, PDF) are not built")
  return()
endif()

# pandoc 2.19 and later embed resources with --embed-resources; earlier ones with
# --self-contained (which implies --standalone).
execute_process(COMMAND ${PANDOC_EXECUTABLE} --version
                OUTPUT_VARIABLE _manual_pandoc_version ERROR_QUIET)
string(REGEX MATCH "[0-9]+\\.[0-9]+(\\.[0-9]+)*" _manual_pandoc_version
       "${_manual_pandoc_version}")
if(_manual_pandoc_version VERSION_GREATER_EQUAL 2.19)
  set(_manual_embed --embed-resources --standalone)
else()
  set(_manual_embed --self-contained)
endif()

if(CHROMIUM_EXECUTABLE)
  message(STATUS "Manual: HTML with pandoc ${_manual_pandoc_version}, "
                 "PDF with ${CHROMIUM_EXECUTABLE}")
else()
  message(STATUS "Manual: chromium not found; "
                 "only the HTML manuals (tsr_e.html, tsr_f.html) are built")
endif()

file(GLOB _manual_icons CONFIGURE_DEPENDS ${TESSORA_MANUAL_ROOT}/resources/icons/*.png)

set(_manual_outputs)
foreach(_manual_lang e f)
  if(_manual_lang STREQUAL "e")
    set(_manual_code en)
  else()
    set(_manual_code fr)
  endif()
  set(_manual_md ${TESSORA_MANUAL_DIR}/tsr_${_manual_lang}.md)
  set(_manual_html ${CMAKE_BINARY_DIR}/tsr_${_manual_lang}.html)
  set(_manual_pdf ${CMAKE_BINARY_DIR}/tsr_${_manual_lang}.pdf)

  # Image paths in the .md files are relative to docs/manual. Without the "smart" extension,
  # quotes, apostrophes and "..." stay as typed, so the program's texts are quoted exactly.
  add_custom_command(
    OUTPUT ${_manual_html}
    COMMAND ${PANDOC_EXECUTABLE} ${_manual_md}
            --from markdown-smart --to html5 ${_manual_embed}
            --toc --toc-depth=2 --number-sections
            --metadata lang=${_manual_code}
            --css ${TESSORA_MANUAL_DIR}/manual.css
            --resource-path ${TESSORA_MANUAL_DIR}
            --output ${_manual_html}
    WORKING_DIRECTORY ${TESSORA_MANUAL_DIR}
    DEPENDS ${_manual_md} ${TESSORA_MANUAL_DIR}/manual.css ${_manual_icons}
            ${TESSORA_MANUAL_DIR}/manual.cmake
    COMMENT "Manual: tsr_${_manual_lang}.html"
    VERBATIM)
  list(APPEND _manual_outputs ${_manual_html})

  if(CHROMIUM_EXECUTABLE)
    set(_manual_timeout)
    if(TIMEOUT_EXECUTABLE)
      set(_manual_timeout -DTIMEOUT=${TIMEOUT_EXECUTABLE})
    endif()
    add_custom_command(
      OUTPUT ${_manual_pdf}
      COMMAND ${CMAKE_COMMAND}
              -DMANUAL_HTML=${_manual_html}
              -DMANUAL_PDF=${_manual_pdf}
              -DMANUAL_PROFILE=${CMAKE_BINARY_DIR}/manual-chromium-${_manual_lang}
              -DCHROMIUM=${CHROMIUM_EXECUTABLE}
              ${_manual_timeout}
              -P ${TESSORA_MANUAL_DIR}/manual.cmake
      DEPENDS ${_manual_html} ${TESSORA_MANUAL_DIR}/manual.cmake
      COMMENT "Manual: tsr_${_manual_lang}.pdf"
      VERBATIM)
    list(APPEND _manual_outputs ${_manual_pdf})
  endif()
endforeach()

add_custom_target(tessora_manual ALL DEPENDS ${_manual_outputs})
