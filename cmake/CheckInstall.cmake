# Installs a build tree into a scratch prefix and checks what lands there; then builds
# a small device program against the installed package and runs it. Run with
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DLIBDIR=lib [-DTOOLCHAIN=file]
#         [-DEMULATOR=prog|arg|...] [-DGENERATOR=Ninja] [-DMAKE_PROGRAM=ninja]
#         -P CheckInstall.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var BUILD_DIR WORK_DIR LIBDIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
if(NOT GENERATOR)
    set(GENERATOR "Unix Makefiles")
endif()
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_files present)
    foreach(file ${ARGN})
        if(present AND NOT EXISTS ${prefix}/${file})
            message(FATAL_ERROR "not installed: ${file}")
        elseif(NOT present AND EXISTS ${prefix}/${file})
            message(FATAL_ERROR "installed without being asked for: ${file}")
        endif()
    endforeach()
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

# The full installation is the device's: the shell, its manual, the libraries.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
expect_files(TRUE bin/vela share/man/man1/vela.1 ${LIBDIR}/libxcom.a ${LIBDIR}/libcle.a
             include/xcom.h include/libxcom.h include/cle.h
             ${LIBDIR}/cmake/vela/velaConfig.cmake ${LIBDIR}/cmake/vela/velaConfigVersion.cmake)
expect_files(FALSE libexec/vela-sim/device bin/vela_fastclock ${LIBDIR}/libshell_io.a)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --component sim)
expect_files(TRUE libexec/vela-sim/device libexec/vela-sim/zuz libexec/vela-sim/syslogd
             libexec/vela-sim/telnetd-login-23 libexec/vela-sim/telnetd-login-24)

# Another program of the device, in C, against the installed package only.
set(consumer ${WORK_DIR}/consumer)
file(WRITE ${consumer}/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES C CXX)
find_package(vela 0.1 REQUIRED COMPONENTS xcom cle)
add_executable(consumer main.c)
target_link_libraries(consumer PRIVATE vela::xcom vela::cle)
]=])
file(WRITE ${consumer}/main.c [=[
#include <stdio.h>

#include "cle.h"
#include "libxcom.h"
#include "xcom.h"

static int on_line(HXCOM client, char *line) {
    (void)client;
    (void)line;
    return 0;
}

int main(void) {
    /* Nothing listens on port 1: the connection is refused, cleanly. */
    HXCOM client = xcom_client_connect("127.0.0.1", 1, on_line);
    int added = cle_history_add("status");
    printf("connect %s, history %d %d\n", client == NULL ? "refused" : "made", added,
           cle_history_size());
    return client == NULL ? 0 : 1;
}
]=])
set(configure ${CMAKE_COMMAND} -S ${consumer} -B ${consumer}/build -G ${GENERATOR}
    -Dvela_DIR=${prefix}/${LIBDIR}/cmake/vela)
if(MAKE_PROGRAM)
    list(APPEND configure -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
if(TOOLCHAIN)
    list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${consumer}/build)
run(${EMULATOR} ${consumer}/build/consumer)
if(NOT last_output MATCHES "connect refused, history")
    message(FATAL_ERROR "the consumer said: ${last_output}")
endif()
message(STATUS "installed tree and consumer: ${last_output}")
