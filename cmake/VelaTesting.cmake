# vela_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABEL <label>]
#                [EMULATION_UNSAFE <Suite.Test...>])
# One GoogleTest executable whose cases CTest runs one by one, in parallel.
#
# Each case has one label (the discovery script writes list-valued properties out
# flat), by which the PowerPC run chooses (scripts/lib.sh):
#   unit              (the default) runs on its own;
#   e2e               runs the shell on the simulated device (tests/e2e);
#   pty               drives a program of this build in a pty (the editor's tests);
#   emulation-unsafe  the cases named after EMULATION_UNSAFE: their outcome under
#                     user-mode emulation is not the device's (say why where they are
#                     named).
# In a cross build each case runs under CMAKE_CROSSCOMPILING_EMULATOR; all but the unit
# tests start target programs themselves, which needs qemu registered in binfmt_misc.
function(vela_add_gtest name)
    cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS;EMULATION_UNSAFE" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                          Threads::Threads)
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    set(others "")
    if(T_EMULATION_UNSAFE)
        list(JOIN T_EMULATION_UNSAFE ":" unsafe)
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                             TEST_FILTER ${unsafe}
                             PROPERTIES TIMEOUT 120 LABELS emulation-unsafe)
        set(others TEST_FILTER -${unsafe})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 ${others}
                         PROPERTIES TIMEOUT 120 LABELS ${T_LABEL})
endfunction()
