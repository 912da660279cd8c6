# Precompiled headers: most files include the same heavy OpenCV and Qt Core
# headers, and parsing them again for every file is most of a clean build.
# One header is compiled per tree (and one per kind of test) and reused by
# every target that already links those libraries (they all share the tree's
# flags), so that a clean build (CI, a new worktree) parses them a few times.
#
# Off by default behind a compiler launcher: ccache does not cache files
# compiled against a precompiled header without extra settings, and an
# incremental build through ccache gains more from its cache.

if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(quorvane_pch_default OFF)
else()
  set(quorvane_pch_default ON)
endif()
option(QUORVANE_PCH "Precompile the common OpenCV, Qt Core and standard headers"
       ${quorvane_pch_default})

# Only Qt Core and OpenCV core/imgproc: every consumer has their include paths,
# and none of these headers depends on the Qt module macros (QT_GUI_LIB,
# QT_WIDGETS_LIB) that differ from target to target. The tests also get Qt
# Test's, which does depend on them.
set(quorvane_pch_headers
    <algorithm> <array> <cmath> <functional> <iostream> <memory> <optional>
    <sstream> <string> <vector>
    <QByteArray> <QDir> <QFile> <QFileInfo> <QString> <QStringList>
    <opencv2/core.hpp> <opencv2/imgproc.hpp>)

# The targets defined in `folder` and below.
function(quorvane_targets_below folder out)
  get_property(targets DIRECTORY "${folder}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subfolders DIRECTORY "${folder}" PROPERTY SUBDIRECTORIES)
  foreach(subfolder IN LISTS subfolders)
    quorvane_targets_below("${subfolder}" below)
    list(APPEND targets ${below})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

# Whether `target` links `library`, directly or through the project's libraries.
function(quorvane_links target library out)
  set(${out} FALSE PARENT_SCOPE)
  set(pending ${target})
  set(seen)
  while(pending)
    list(POP_FRONT pending current)
    if(current IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${current})
    if(current STREQUAL library)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    if(TARGET ${current})
      get_target_property(imported ${current} IMPORTED)
      if(NOT imported)
        get_target_property(direct ${current} LINK_LIBRARIES)
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        foreach(list IN ITEMS direct interface)
          if(${list})
            list(APPEND pending ${${list}})
          endif()
        endforeach()
      endif()
    endif()
  endwhile()
endfunction()

# The target that compiles the header for a set of Qt `modules` beyond Core
# (none for the libraries and programs). The tests' own depend on them: Qt
# Test's header chooses the application class of QTEST_MAIN by the modules
# linked, and gcc refuses a header compiled without a module macro a file has.
function(quorvane_pch_producer modules out)
  set(name ${modules})
  list(REMOVE_ITEM name Test)
  if("Test" IN_LIST modules AND NOT name)
    set(name Core)
  endif()
  string(REPLACE ";" "" producer "quorvane_pch${name}")
  if(NOT TARGET ${producer})
    add_library(${producer} STATIC "${PROJECT_SOURCE_DIR}/cmake/precompiled_headers.cpp")
    target_link_libraries(${producer} PRIVATE Qt5::Core opencv_core opencv_imgproc)
    set(headers ${quorvane_pch_headers})
    foreach(module IN LISTS modules)
      if(NOT TARGET Qt5::${module}) # found only where the consumer is defined
        find_package(Qt5 REQUIRED COMPONENTS ${module})
      endif()
      target_link_libraries(${producer} PRIVATE Qt5::${module})
    endforeach()
    if("Test" IN_LIST modules)
      list(APPEND headers <QtTest>)
      # Only the test programs use it: compiled as they are.
      target_compile_options(${producer} PRIVATE ${quorvane_test_compile_options})
    endif()
    target_precompile_headers(${producer} PRIVATE ${headers})
  endif()
  set(${out} ${producer} PARENT_SCOPE)
endfunction()

# Gives every C++ target of the project that links OpenCV's imgproc and Qt Core
# a precompiled header.
function(quorvane_precompile_common_headers)
  if(NOT QUORVANE_PCH)
    return()
  endif()
  quorvane_targets_below("${PROJECT_SOURCE_DIR}" targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    quorvane_links(${target} opencv_imgproc has_opencv)
    quorvane_links(${target} Qt5::Core has_qt)
    if(NOT has_opencv OR NOT has_qt)
      continue()
    endif()
    set(modules "")
    quorvane_links(${target} Qt5::Test has_test)
    if(has_test)
      set(modules Test)
      quorvane_links(${target} Qt5::Widgets has_widgets)
      quorvane_links(${target} Qt5::Gui has_gui)
      if(has_widgets)
        list(APPEND modules Widgets)
      elseif(has_gui)
        list(APPEND modules Gui)
      endif()
      quorvane_links(${target} Qt5::Network has_network)
      if(has_network)
        list(APPEND modules Network)
      endif()
    endif()
    quorvane_pch_producer("${modules}" producer)
    target_precompile_headers(${target} REUSE_FROM ${producer})
  endforeach()
endfunction()
