# Fails when a file under src/ outside src/shell includes a wxWidgets header: the core, the
# designer's rules and the command-line tool build and run without a GUI toolkit.
#   cmake -DSOURCE_DIR=<repository> -P check_no_wx_outside_shell.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()
file(GLOB_RECURSE sources LIST_DIRECTORIES false
     "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.hpp" "${SOURCE_DIR}/src/*.c"
     "${SOURCE_DIR}/src/*.cc" "${SOURCE_DIR}/src/*.cpp")
set(offenders "")
set(checked 0)
foreach(file IN LISTS sources)
  if(file MATCHES "^${SOURCE_DIR}/src/shell/")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]wx/")
  if(lines)
    list(APPEND offenders "${file}: ${lines}")
  endif()
endforeach()
if(checked EQUAL 0)
  message(FATAL_ERROR "no source file found under ${SOURCE_DIR}/src")
endif()
if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "wxWidgets included outside src/shell:\n  ${text}")
endif()
message(STATUS "${checked} files outside src/shell include no wxWidgets header")
