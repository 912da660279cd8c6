# Unity builds: a clean build (CI, a new worktree) compiles each target's files
# in batches, so that headers the precompiled one leaves out and templates are
# parsed and instantiated once per batch rather than once per file. Off behind
# a compiler launcher, like the precompiled headers: ccache caches per file.
option(QUORVANE_UNITY "Compile each target's files in batches" ${quorvane_pch_default})
set(CMAKE_UNITY_BUILD ${QUORVANE_UNITY})

# Files a unity build compiles on their own: each gives a name of its own file
# (an unnamed-namespace helper, constant or enum) that another file of the same
# target also gives, and together they would clash.
#   cli: each command's file names its own `command` and `help()`.
#   app: the reference and shot dialogs each have their `image_filter`.
#   make_rig: each scene has its own random `Stream`s.
# And serve's server and the drift check: gcc takes a file included into a batch
# for a header and warns that its state holds types from an unnamed namespace
# (-Wsubobject-linkage).
function(quorvane_unity_exceptions)
  if(NOT QUORVANE_UNITY)
    return()
  endif()
  foreach(entry IN ITEMS
          cli:cli/calibrate_command.cpp cli:cli/process_command.cpp
          cli:cli/watch_command.cpp cli:cli/serve_command.cpp
          app:app/reference_session.cpp
          rig:tools/make_rig/parallax_scene.cpp
          serve:serve/share_server.cpp
          calibration:calibration/drift_check.cpp)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 target)
    list(GET entry 1 file)
    set_source_files_properties("${PROJECT_SOURCE_DIR}/${file}" TARGET_DIRECTORY ${target}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()
