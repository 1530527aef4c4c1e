# Adds every immediate subfolder of the current folder that has a CMakeLists.txt, in name order.
function(gx_add_subdirectories)
    file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()

# gx_add_test(NAME name SOURCES ... [LIBS ...] [ENV VAR=value ...] [PREFIX text] [OWN_MAIN])
# A GoogleTest executable in build/tests, registered with CTest test by test. OWN_MAIN: the
# sources bring their own main (one that creates a Qt application first, for example); PREFIX is
# put before each test's name in CTest.
function(gx_add_test)
    cmake_parse_arguments(T "OWN_MAIN" "NAME;PREFIX" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    set(main GTest::gtest_main)
    if(T_OWN_MAIN)
        set(main)
    endif()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock ${main}
                                            Threads::Threads)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${T_NAME} PRIVATE GX_PROGRAM_DIR="${GX_PROGRAM_DIR}"
                                                 GX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${T_NAME} TEST_PREFIX "${T_PREFIX}" DISCOVERY_TIMEOUT 120
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${T_ENV}" TIMEOUT 300)
endfunction()

# gx_add_benchmark(NAME name SOURCES ... [LIBS ...])
# A benchmark executable in build/bench, named gx-bench-<name>, run by `./gx bench`.
function(gx_add_benchmark)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    set(target gx-bench-${B_NAME})
    add_executable(${target} ${B_SOURCES})
    target_link_libraries(${target} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
