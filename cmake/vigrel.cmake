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
