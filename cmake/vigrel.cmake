# Build conventions shared by every folder.

# Our own targets: all warnings, and every warning an error.
function(vigrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# A GoogleTest executable with the project's and the tests' headers in reach.
#   vigrel_gtest_executable(name SOURCES ... LIBS ...)
function(vigrel_gtest_executable name)
    cmake_parse_arguments(E "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${E_SOURCES})
    target_link_libraries(${name} PRIVATE ${E_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    vigrel_warnings(${name})
endfunction()

# A GoogleTest executable that ctest runs as one test (under Wine in the win preset).
#   vigrel_test(NAME name SOURCES ... LIBS ... [LABELS ...] [TIMEOUT seconds] [ENV VAR=VALUE ...])
# Without LABELS it is a unit test: fast, no window, no service manager, no outside server
# (loopback peers inside the test are fine), so that `ctest -L unit` is the quick round.
function(vigrel_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
    vigrel_gtest_executable(${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_color=no)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
    if(T_ENV)
        set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${T_ENV}")
    endif()
endfunction()

# A GoogleTest executable that needs a screen: it runs on a private X display with a Wine
# desktop shell (tools/with-desktop.sh), one such test at a time.
#   vigrel_window_test(NAME name SOURCES ... LIBS ... [TIMEOUT seconds])
function(vigrel_window_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    vigrel_gtest_executable(${T_NAME} SOURCES ${T_SOURCES} LIBS ${T_LIBS})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_test(NAME ${T_NAME}
             COMMAND ${PROJECT_SOURCE_DIR}/tools/with-desktop.sh
                     --artifacts ${CMAKE_BINARY_DIR}/artifacts --exe ${T_NAME}.exe --
                     ${CMAKE_BINARY_DIR}/wine-run $<TARGET_FILE:${T_NAME}> --gtest_color=no)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS window
                         RESOURCE_LOCK wine_desktop
                         ENVIRONMENT "VIGREL_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# The names the packaging shares with the code, read from base/product.h where they stand once.
file(STRINGS ${PROJECT_SOURCE_DIR}/base/product.h vigrel_names REGEX "^#define VIGREL_[A-Z]+_NAME ")
foreach(line ${vigrel_names})
    string(REGEX MATCH "^#define (VIGREL_[A-Z]+_NAME) \"([^\"]+)\"" matched "${line}")
    set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
file(STRINGS ${PROJECT_SOURCE_DIR}/base/product.h vigrel_site REGEX "ProductWebSite = \"")
string(REGEX REPLACE ".*= \"([^\"]+)\".*" "\\1" VIGREL_WEB_SITE "${vigrel_site}")
if(NOT VIGREL_PRODUCT_NAME OR NOT VIGREL_BRAND_NAME OR NOT VIGREL_WEB_SITE)
    message(FATAL_ERROR "base/product.h lost a name the packaging reads")
endif()
set(VIGREL_VERSION4 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)

# A program's manifest and version record, compiled into it.
#   vigrel_program_resources(target DESCRIPTION text LEVEL asInvoker|requireAdministrator)
function(vigrel_program_resources target)
    cmake_parse_arguments(R "" "DESCRIPTION;LEVEL" "" ${ARGN})
    get_target_property(VIGREL_PROGRAM ${target} OUTPUT_NAME)
    set(VIGREL_DESCRIPTION ${R_DESCRIPTION})
    set(VIGREL_EXECUTION_LEVEL ${R_LEVEL})
    set(VIGREL_VERSION_COMMAS
        ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
    set(VIGREL_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${VIGREL_PROGRAM}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${VIGREL_MANIFEST} @ONLY)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${VIGREL_PROGRAM}_program.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${VIGREL_MANIFEST})
    target_sources(${target} PRIVATE ${rc})
endfunction()
