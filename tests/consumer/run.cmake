# Script behind the install_and_find_package test: installs into a scratch
# prefix, moves the whole tree elsewhere (as a packager or a user copying an
# install does), then builds hosts from the moved copy only: the consumer
# and every example with find_package(KivPlcDb), the same with pkg-config,
# each at -std=c++14 so that the package itself must raise the standard.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "cmake --install failed")
endif()
# The tool's manual page and bash completion, made at build time.
foreach(file share/man/man1/kivplc.1 share/bash-completion/completions/kivplc)
  if(EXISTS ${BINARY_DIR}/cli/kivplc AND NOT EXISTS ${WORK_DIR}/prefix/${file})
    message(FATAL_ERROR "${file} was not installed")
  endif()
endforeach()
file(RENAME ${WORK_DIR}/prefix ${WORK_DIR}/moved)
set(prefix ${WORK_DIR}/moved)
file(GLOB_RECURSE pc_file ${prefix}/kivplcdb.pc)
if(NOT pc_file)
  message(FATAL_ERROR "kivplcdb.pc was not installed")
endif()
get_filename_component(pc_dir ${pc_file} DIRECTORY)
get_filename_component(lib_dir ${pc_dir} DIRECTORY)

set(launcher)
set(compile ${CXX})
find_program(CCACHE ccache)
if(CCACHE)
  set(launcher -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
  set(compile ${CCACHE} ${CXX})
endif()
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(rc)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}")
  endif()
endfunction()

# Hosts found with CMake.
foreach(host consumer examples)
  if(host STREQUAL "consumer")
    set(dir ${SOURCE_DIR}/tests/consumer)
  else()
    set(dir ${SOURCE_DIR}/examples)
  endif()
  run("configuring ${host} with find_package" ${CMAKE_COMMAND} -S ${dir} -B ${WORK_DIR}/cmake-${host}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_STANDARD=14
    -DCMAKE_CXX_COMPILER=${CXX} ${launcher})
  run("building ${host} with find_package" ${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-${host})
endforeach()

# Hosts built with pkg-config; the host's own -std comes first, as in a
# makefile that appends the package's flags.
find_program(PKG_CONFIG pkg-config REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND ${PKG_CONFIG} --cflags --libs kivplcdb
  RESULT_VARIABLE rc OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(rc)
  message(FATAL_ERROR "pkg-config --cflags --libs kivplcdb failed")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
file(GLOB examples ${SOURCE_DIR}/examples/*.cpp)
file(MAKE_DIRECTORY ${WORK_DIR}/pkg-config)
foreach(source ${SOURCE_DIR}/tests/consumer/consumer.cpp ${examples})
  get_filename_component(name ${source} NAME_WE)
  run("building ${name} with pkg-config" ${compile} -std=c++14 ${source} ${flags}
    -o ${WORK_DIR}/pkg-config/${name})
endforeach()

# The Python package from the moved copy, found as docs/python.md says and
# finding the library relative to its own place (no LD_LIBRARY_PATH yet).
if(PYTHON)
  set(ENV{PYTHONPATH} ${prefix}/lib/python3/dist-packages)
  execute_process(COMMAND ${PYTHON} -c "import kivplc; help(kivplc)"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  foreach(expected "class Catalogue" "class TooLong" "Opens the catalogue file")
    if(rc OR NOT out MATCHES "${expected}")
      message(FATAL_ERROR "help(kivplc) from the moved install lacks '${expected}' (${rc}):\n${out}")
    endif()
  endforeach()
endif()

# A fresh catalogue from the example built against the moved copy, then the
# consumer both ways on it.
set(ENV{LD_LIBRARY_PATH} ${lib_dir})
run("the example hello_catalogue" ${WORK_DIR}/cmake-examples/hello_catalogue ${WORK_DIR}/fresh.db)
run("the example owned_rows" ${WORK_DIR}/cmake-examples/owned_rows ${WORK_DIR}/fresh.db)
run("the example owned_rows built with pkg-config" ${WORK_DIR}/pkg-config/owned_rows ${WORK_DIR}/fresh.db)
run("the consumer built with find_package" ${WORK_DIR}/cmake-consumer/consumer ${WORK_DIR}/fresh.db)
run("the consumer built with pkg-config" ${WORK_DIR}/pkg-config/consumer ${WORK_DIR}/fresh.db)
