# Installs the build into a scratch prefix and runs the installed program in automation mode, on
# the offscreen platform, with nothing pointing it at the build tree: it must find its resources
# beside its own bin folder. Run as: cmake -DBINARY_DIR=... -DSCRATCH=... -P InstallTest.cmake
set(prefix ${SCRATCH}/prefix)
file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

foreach(file bin/zuzire bin/zuzire-library share/zuzire/help.html
             share/applications/zuzire.desktop share/icons/hicolor/scalable/apps/zuzire.svg
             share/icons/hicolor/128x128/apps/zuzire.png)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# The installed library tool hands import and list on to the whole tool it finds from its folder,
# which must find the metadata module from its own place: the demo photos hold a RAW file whose
# preview only that module finds.
execute_process(COMMAND ${BINARY_DIR}/bin/zuzire-demo-photos ${SCRATCH}/Photos RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the demo photos were not made: ${result}")
endif()
set(ENV{XDG_CONFIG_HOME} ${SCRATCH}/tool-config)
unset(ENV{ZUZIRE_RAW_METADATA_MODULE})
execute_process(COMMAND ${prefix}/bin/zuzire-library import --library ${SCRATCH}/Library ${SCRATCH}/Photos/Camera
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 60)
if(NOT result EQUAL 0 OR NOT output MATCHES "^Imported 1 album")
    message(FATAL_ERROR "the installed library tool did not import (${result}):\n${output}\n${errors}")
endif()
if(errors MATCHES "module not loaded|skipped")
    message(FATAL_ERROR "the installed library tool skipped photos:\n${errors}")
endif()

# The wait lets the first frame come and the sounds load, from the installed module.
file(WRITE ${SCRATCH}/commands "wait 0.5\ntree\nquit\n")
set(ENV{QT_QPA_PLATFORM} offscreen)
set(ENV{XDG_CONFIG_HOME} ${SCRATCH}/config)
unset(ENV{ZUZIRE_RESOURCE_DIR})
unset(ENV{ZUZIRE_BINARY_DIR})
execute_process(COMMAND ${prefix}/bin/zuzire --automation
                WORKING_DIRECTORY ${SCRATCH}
                INPUT_FILE ${SCRATCH}/commands
                OUTPUT_VARIABLE output ERROR_VARIABLE errors
                RESULT_VARIABLE result TIMEOUT 60)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the installed program failed (${result}):\n${output}\n${errors}")
endif()
string(FIND "${output}" "\"resources\":\"${prefix}/share/zuzire\"" found)
if(found EQUAL -1)
    message(FATAL_ERROR "the installed program looks for its resources elsewhere:\n${output}")
endif()
string(FIND "${errors}" "Sound output module not loaded" found)
if(NOT found EQUAL -1)
    message(FATAL_ERROR "the installed program did not find its sound output:\n${errors}")
endif()
string(FIND "${output}" "RootController" found)
if(found EQUAL -1)
    message(FATAL_ERROR "the installed program showed no first screen:\n${output}")
endif()
file(REMOVE_RECURSE ${SCRATCH})
