# zarvel_test(name SOURCES ... [LIBS ...] [LABELS ...] [FIXTURES ...] [ENV ...] [TIMEOUT s])
#
# One CTest entry per test executable. LABELS pick the configurations that run
# it: "unit" (also run under ASan/UBSan), "tsan" (also run under TSan), "fuzz".
# FIXTURES names the test servers it needs (see tests/servers).
function(zarvel_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;FIXTURES;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} zarvel_testsupport GTest::gtest_main GTest::gmock)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 600)
    endif()
    set(env "ZARVEL_SERVERS=${CMAKE_BINARY_DIR}/servers" "ZARVEL_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
            "QT_QPA_PLATFORM=offscreen"
            "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
            ${T_ENV})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
    if(T_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
        foreach(label ${T_LABELS})
            set_property(GLOBAL APPEND PROPERTY ZARVEL_TESTS_${label} ${name})
        endforeach()
    endif()
    if(T_FIXTURES)
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
    endif()
endfunction()

# Targets "tests_unit", "tests_tsan", "tests_fuzz": build just what a label runs.
function(zarvel_finish_test_groups)
    foreach(label unit tsan fuzz)
        get_property(targets GLOBAL PROPERTY ZARVEL_TESTS_${label})
        add_custom_target(tests_${label})
        if(targets)
            add_dependencies(tests_${label} ${targets})
        endif()
    endforeach()
endfunction()
