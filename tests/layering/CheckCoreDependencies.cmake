# Fails when the widget-free library reaches for widgets: an include of a
# widgets or D-Bus header, of anything under gui/ or of one of our own
# headers that the library does not contain, an include from a core folder
# that comes later in the folder order, a link to a library other than Qt Core/Network/Gui,
# or a program meant to run without a display that needs the
# widgets or libmpv when it starts, or a desktop program that needs libmpv or
# libcurl when it starts.
#
# Run by CTest as:
#   cmake -DSOURCES=<core sources> -DGENERATED=<generated headers>
#         -DSOURCE_ROOT=<src> -DLINKS=<core link libraries>
#         -DQT_INCLUDE_ROOT=<qt6 include folder> -DREADELF=<readelf>
#         -DWIDGET_FREE_PROGRAMS=<binaries> -DDESKTOP_PROGRAM=<binary>
#         -DFOLDER_ORDER=<core folders, lowest first>
#         -P CheckCoreDependencies.cmake
cmake_minimum_required(VERSION 3.25)

# Lists arrive joined with "|", which passes through a test command intact.
foreach(list_var SOURCES GENERATED LINKS WIDGET_FREE_PROGRAMS)
  string(REPLACE "|" ";" ${list_var} "${${list_var}}")
endforeach()
set(absolute_sources "")
foreach(file IN LISTS SOURCES)
  if(NOT IS_ABSOLUTE "${file}")
    set(file "${SOURCE_ROOT}/${file}")
  endif()
  list(APPEND absolute_sources "${file}")
endforeach()
set(SOURCES ${absolute_sources})

set(problems "")

# Headers that only the widgets (and the desktop services) module has.
set(forbidden_modules QtWidgets QtDBus QtOpenGLWidgets QtPrintSupport)
set(allowed_modules QtCore QtGui QtNetwork)
set(forbidden_headers "")
foreach(module IN LISTS forbidden_modules)
  file(GLOB names RELATIVE "${QT_INCLUDE_ROOT}/${module}" "${QT_INCLUDE_ROOT}/${module}/*")
  list(APPEND forbidden_headers ${names})
endforeach()
set(allowed_headers "")
foreach(module IN LISTS allowed_modules)
  file(GLOB names RELATIVE "${QT_INCLUDE_ROOT}/${module}" "${QT_INCLUDE_ROOT}/${module}/*")
  list(APPEND allowed_headers ${names})
endforeach()
list(LENGTH forbidden_headers forbidden_count)
if(forbidden_count LESS 100)
  list(APPEND problems "too few widget headers under ${QT_INCLUDE_ROOT}: the check would see nothing")
endif()

# Our own headers the library may include: its sources and generated files.
set(own "")
foreach(file IN LISTS SOURCES GENERATED)
  cmake_path(IS_PREFIX SOURCE_ROOT "${file}" NORMALIZE under_src)
  if(under_src)
    cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${SOURCE_ROOT}" OUTPUT_VARIABLE relative)
    list(APPEND own "${relative}")
  endif()
endforeach()
# Generated headers are included by their path under the generated folder,
# which mirrors src/ ("core/endpoints/Endpoints.h").
foreach(file IN LISTS GENERATED)
  string(REGEX REPLACE "^.*/generated/" "" relative "${file}")
  list(APPEND own "${relative}")
endforeach()

# The folders of the library, lowest first: a folder may include from
# itself and from the folders before it, never from one after it
# (docs/architecture.md explains the order).
string(REPLACE "|" ";" FOLDER_ORDER "${FOLDER_ORDER}")
list(LENGTH FOLDER_ORDER folder_count)
if(folder_count LESS 5)
  list(APPEND problems "the folder order did not arrive ('${FOLDER_ORDER}')")
endif()
file(GLOB present_folders LIST_DIRECTORIES true RELATIVE "${SOURCE_ROOT}/core" "${SOURCE_ROOT}/core/*")
foreach(folder IN LISTS present_folders)
  if(IS_DIRECTORY "${SOURCE_ROOT}/core/${folder}" AND NOT folder IN_LIST FOLDER_ORDER)
    list(APPEND problems "core/${folder} has no place in the folder order: add it to docs/architecture.md and tests/layering")
  endif()
endforeach()

set(scanned 0)
foreach(file IN LISTS SOURCES)
  # Generated moc files only repeat our own headers.
  cmake_path(IS_PREFIX SOURCE_ROOT "${file}" NORMALIZE ours)
  if(NOT ours OR NOT file MATCHES "\\.(h|cpp)$" OR NOT EXISTS "${file}")
    continue()
  endif()
  math(EXPR scanned "${scanned} + 1")
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>")
      set(header "${CMAKE_MATCH_1}")
      if(header MATCHES "^(Qt[A-Za-z]+)/(.*)$")
        set(module "${CMAKE_MATCH_1}")
        if(NOT module IN_LIST allowed_modules)
          list(APPEND problems "${file}: includes <${header}> from ${module}")
        endif()
      elseif(header MATCHES "^Q" AND header IN_LIST forbidden_headers AND NOT header IN_LIST allowed_headers)
        list(APPEND problems "${file}: includes the widget header <${header}>")
      elseif(header IN_LIST forbidden_modules)
        list(APPEND problems "${file}: includes the module <${header}>")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*\"([^\"]+)\"")
      set(header "${CMAKE_MATCH_1}")
      if(header MATCHES "\\.moc$" OR header MATCHES "^moc_")
        continue()
      endif()
      if(header MATCHES "^gui/")
        list(APPEND problems "${file}: includes \"${header}\" from the window's library")
      elseif(NOT header IN_LIST own)
        list(APPEND problems "${file}: includes \"${header}\", which is not part of the widget-free library")
      elseif(header MATCHES "^core/([^/]+)/" AND file MATCHES "/core/([^/]+)/[^/]+$")
        # CMAKE_MATCH_1 now holds the including folder; match the header again for its own.
        set(from "${CMAKE_MATCH_1}")
        string(REGEX MATCH "^core/([^/]+)/" ignored "${header}")
        set(to "${CMAKE_MATCH_1}")
        list(FIND FOLDER_ORDER "${from}" from_rank)
        list(FIND FOLDER_ORDER "${to}" to_rank)
        if(to_rank GREATER from_rank)
          list(APPEND problems "${file}: core/${from} includes \"${header}\" from core/${to}, which comes after it in the folder order")
        endif()
      endif()
    endif()
  endforeach()
endforeach()
if(scanned LESS 10)
  list(APPEND problems "only ${scanned} sources scanned: the source list did not arrive")
endif()

# The link interface: Qt Core/Network/Gui, libcurl, nothing else of ours.
foreach(link IN LISTS LINKS)
  if(link MATCHES "Widgets|DBus|MPV|mpv|kelvaro_widgets|OpenGL")
    list(APPEND problems "the widget-free library links ${link}")
  endif()
endforeach()
if(NOT LINKS MATCHES "Qt6::Core")
  list(APPEND problems "the link interface did not arrive (no Qt6::Core in '${LINKS}')")
endif()

# What the programs need when they start.
function(needed_libraries binary out)
  execute_process(COMMAND "${READELF}" -d "${binary}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
  if(failed)
    set(${out} "unreadable" PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" entries "${dynamic}")
  set(${out} "${entries}" PARENT_SCOPE)
endfunction()
foreach(binary IN LISTS WIDGET_FREE_PROGRAMS)
  needed_libraries("${binary}" needed)
  if(needed STREQUAL "unreadable" OR NOT needed MATCHES "libQt6Core")
    list(APPEND problems "${binary}: could not read what it needs")
  elseif(needed MATCHES "libQt6Widgets|libQt6DBus|libmpv")
    list(APPEND problems "${binary} needs widgets or libmpv: ${needed}")
  endif()
endforeach()
if(DESKTOP_PROGRAM)
  needed_libraries("${DESKTOP_PROGRAM}" needed)
  if(needed STREQUAL "unreadable" OR NOT needed MATCHES "libQt6Widgets")
    list(APPEND problems "${DESKTOP_PROGRAM}: could not read what it needs")
  elseif(needed MATCHES "libmpv|libcurl")
    list(APPEND problems "${DESKTOP_PROGRAM} links libmpv or libcurl, which are only to be loaded when first needed")
  endif()
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "The widget-free library is not widget-free:\n  ${text}")
endif()
message(STATUS "${scanned} sources of the widget-free library checked: no widgets, no libmpv at start")
