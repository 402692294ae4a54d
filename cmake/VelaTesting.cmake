# vela_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One GoogleTest executable whose cases CTest runs one by one, in parallel.
#
# In a cross build the cases run under CMAKE_CROSSCOMPILING_EMULATOR (qemu-user), which
# runs one target program but cannot follow its execve into another target program.
# Test programs that start target programs are labelled "host-only" there (instead of
# their own label), and the target's test run leaves that label out:
#   - every end-to-end test (label e2e): the device launcher execs the stand-ins and
#     the shell, all target programs;
#   - the test programs listed here, with why.
set(VELA_TESTS_STARTING_TARGET_PROGRAMS
    cle_editor_test  # drives cle_pty_driver in a pty
)

function(vela_add_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                          Threads::Threads)
    set(labels unit)
    if(T_LABELS)
        set(labels ${T_LABELS})
    endif()
    if(CMAKE_CROSSCOMPILING AND ("e2e" IN_LIST labels OR name IN_LIST
                                 VELA_TESTS_STARTING_TARGET_PROGRAMS))
        # One label only: the discovery script writes list-valued properties out flat.
        set(labels host-only)
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES TIMEOUT 120 LABELS "${labels}")
endfunction()
