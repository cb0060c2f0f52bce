# The Python package's tests (tests/python), run by pytest against the
# package as built (PYTHONPATH at the build tree), on a catalogue file and
# on the throwaway server.  Not in the sanitizer build: the interpreter
# cannot load instrumented libraries without the sanitizers' runtime.
if(NOT KIV_BUILD_PYTHON OR KIV_SANITIZE OR KIV_TSAN)
  return()
endif()
add_test(NAME python_package
  COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${PROJECT_SOURCE_DIR}/tests/python)
set_tests_properties(python_package PROPERTIES TIMEOUT 300 ${KIV_TEST_FIXTURES}
  ENVIRONMENT "PYTHONPATH=${PROJECT_BINARY_DIR}/python;KIV_PG_TEST_URI_FILE=${PROJECT_BINARY_DIR}/pg-test-server.uri")
