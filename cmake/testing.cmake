# GoogleTest from Debian's sources, cross-built; test executables run under Wine
# through the cross-compiling emulator.
if(BUILD_TESTING)
    set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    include(GoogleTest)
endif()

# pv_add_windows_tests(NAME SOURCES ... LIBRARIES ... [RESOURCES rc...])
# One console test executable; each test case becomes a CTest test run under Wine,
# in a Wine slot of its own while it runs (resource "wine", see testbed/in-slot.sh).
# Without tests the name stays a target that builds nothing, so that the callers'
# add_dependencies need no guard of their own.
function(pv_add_windows_tests name)
    if(NOT BUILD_TESTING)
        add_custom_target(${name})
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;RESOURCES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES} ${ARG_RESOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} gtest_main)
    target_compile_options(${name} PRIVATE -Wno-conversion)
    set_target_properties(${name} PROPERTIES
        CROSSCOMPILING_EMULATOR "${PROJECT_SOURCE_DIR}/testbed/in-slot.sh;wine")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 DISCOVERY_MODE PRE_TEST
        PROPERTIES TIMEOUT 300 ENVIRONMENT "PORTVANE_BUILD_DIR=${CMAKE_BINARY_DIR}"
                   RESOURCE_GROUPS wine:1)
endfunction()
