# Our own code builds with these warnings; Qt and the other libraries come in as system includes
# through their imported targets, so their headers are not held to them. The test command and CI
# make them errors (ZUZIRE_WERROR); a user's or a packager's build never fails on a warning that a
# newer compiler or another optimisation level brings.
set(ZUZIRE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual)
if(ZUZIRE_WERROR)
    list(APPEND ZUZIRE_WARNINGS -Werror)
endif()

# One library target per source folder. The sources are the folder's own files, so adding a
# class never means editing a list. A folder without sources yet is an interface target.
function(zuzire_library name)
    cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources)
        add_library(${name} INTERFACE)
        target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
        target_link_libraries(${name} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
        return()
    endif()
    add_library(${name} STATIC ${sources} ${headers})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_options(${name} PRIVATE ${ZUZIRE_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
endfunction()

# One test executable per test file (FooTest.cpp -> FooTest), so a test's build never waits on
# another's; each is registered with CTest test by test.
function(zuzire_tests)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    foreach(source IN LISTS sources)
        get_filename_component(name ${source} NAME_WE)
        add_executable(${name} ${source})
        target_compile_options(${name} PRIVATE ${ZUZIRE_WARNINGS})
        target_link_libraries(${name} PRIVATE ${ARG_LIBS} zuzire_test_support GTest::gtest GTest::gmock)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
        # The test main sets the environment the tests run in (platform, resource and build folders).
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             PROPERTIES ${ZUZIRE_TEST_RUN_PROPERTIES})
    endforeach()
endfunction()

# Every test carries the build's mark into the processes it starts, so that the check after the
# suite (NoProcessLeftBehind) finds any of them still running, and runs after it.
set(ZUZIRE_TEST_RUN_PROPERTIES FIXTURES_REQUIRED ZuzireTestRun
    ENVIRONMENT_MODIFICATION "ZUZIRE_TEST_RUN=set:${PROJECT_BINARY_DIR}")
function(zuzire_test_run_properties)
    set_tests_properties(${ARGN} PROPERTIES ${ZUZIRE_TEST_RUN_PROPERTIES})
endfunction()
