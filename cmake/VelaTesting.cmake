# vela_add_gtest(<name> SOURCES <files...> LIBS <targets...> [LABELS <label>]
#                [EMULATION_UNSAFE <Suite.Test...>])
# One GoogleTest executable whose cases CTest runs one by one, in parallel.
#
# Each case has one label (the discovery script writes list-valued properties out
# flat); the PowerPC run chooses by label (scripts/lib.sh):
#   unit              (the default) runs on its own;
#   e2e               runs on the simulated device (tests/e2e; also the in-device fuzz
#                     corpus test);
#   pty               drives a program of this build in a pty (the editor's tests);
#   emulation-unsafe  the cases named after EMULATION_UNSAFE, whose outcome under
#                     user-mode emulation is not the device's (say why where they are
#                     named).
# In a cross build the e2e, pty and emulation-unsafe cases start target programs, which
# qemu-user runs only when it is registered in binfmt_misc.
function(vela_add_gtest name)
    cmake_parse_arguments(T "" "LABELS" "SOURCES;LIBS;EMULATION_UNSAFE" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest GTest::gtest_main
                          Threads::Threads)
    if(NOT T_LABELS)
        set(T_LABELS unit)
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
                         PROPERTIES TIMEOUT 120 LABELS ${T_LABELS})
endfunction()
