# Script behind the windows_host_walk test: installs the Windows build into
# a scratch prefix, cross-compiles the host project against it with the
# toolchain file and find_package, makes a catalogue with kivplc.exe at a
# path with a drive letter, umlauts and a character outside the ANSI code
# page, and runs the host on it, all under Wine.
file(REMOVE_RECURSE ${WORK_DIR})
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("installing" ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix)
set(launcher)
find_program(CCACHE ccache)
if(CCACHE)
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
endif()
run("configuring the host" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/windows-host -B ${WORK_DIR}/host -G Ninja
  -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
  -DKivPlcDb_DIR=${WORK_DIR}/prefix/lib/cmake/KivPlcDb ${launcher})
run("building the host" ${CMAKE_COMMAND} --build ${WORK_DIR}/host)

# Wine maps drive Z: to the machine's root; the DLLs come from the
# installed bin/.  Wine reads its own command line in the locale's
# character set, so the locale is UTF-8.
set(ENV{WINEPATH} ${WORK_DIR}/prefix/bin)
set(ENV{LC_ALL} C.UTF-8)
set(folder "${WORK_DIR}/Ölmühle Grüße 目録")
file(MAKE_DIRECTORY "${folder}")
string(REPLACE "/" "\\" catalogue "Z:${folder}/plant.db")
set(wine ${SOURCE_DIR}/cmake/wine-run.sh)
set(kivplc ${WORK_DIR}/prefix/bin/kivplc.exe)
run("kivplc init" ${wine} ${kivplc} init "${catalogue}")
run("kivplc import" ${wine} ${kivplc} -c "${catalogue}" import "Z:${SOURCE_DIR}/examples/sample-catalogue.json")
run("the host's walk" ${wine} ${WORK_DIR}/host/bin/host_walk.exe "${catalogue}")
message("${out}")
if(NOT out MATCHES "written and read back equal")
  message(FATAL_ERROR "the host did not say that its module came back equal")
endif()
# The module the host wrote, as the tool prints it: UTF-8 on standard output.
run("kivplc find" ${wine} ${kivplc} -c "${catalogue}" find "HOST-")
if(NOT out MATCHES "HOST-𝄞")
  message(FATAL_ERROR "kivplc find did not print the host's module whole:\n${out}")
endif()
