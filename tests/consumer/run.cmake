# Script behind the install_and_find_package test.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${WORK_DIR}/prefix
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "cmake --install failed")
endif()
if(NOT EXISTS ${WORK_DIR}/prefix/lib/pkgconfig/kivplcdb.pc AND NOT EXISTS ${WORK_DIR}/prefix/lib/x86_64-linux-gnu/pkgconfig/kivplcdb.pc)
  message(FATAL_ERROR "kivplcdb.pc was not installed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=Release
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "configuring the consumer failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/build RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "building the consumer failed")
endif()
# A fresh catalogue from the example program, then the consumer on it.
execute_process(COMMAND ${HELLO} ${WORK_DIR}/fresh.db RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "could not create a catalogue")
endif()
execute_process(COMMAND ${WORK_DIR}/build/consumer ${WORK_DIR}/fresh.db RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the consumer failed (${rc})")
endif()
