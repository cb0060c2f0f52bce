# Installs the library into a scratch prefix, moves it, then builds and runs
# host projects and the examples against the moved copy with
# find_package(KivPlcDb) and with pkg-config.
# Skipped in the sanitizer build: a host built without the sanitizers cannot
# link the instrumented libraries, and the plain build runs it anyway.
if(KIV_SANITIZE)
  return()
endif()
set(KIV_INSTALL_TEST_DIR ${CMAKE_CURRENT_BINARY_DIR}/install-test)
add_test(NAME install_and_find_package
  COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DBINARY_DIR=${PROJECT_BINARY_DIR}
    -DWORK_DIR=${KIV_INSTALL_TEST_DIR}
    -DCXX=${CMAKE_CXX_COMPILER}
    -DPYTHON=$<$<BOOL:${KIV_BUILD_PYTHON}>:${Python3_EXECUTABLE}>
    -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/run.cmake)
set_tests_properties(install_and_find_package PROPERTIES TIMEOUT 300)
