# The test_cli* tests run the built kivplc tool, so they build it first, and
# may use its pieces in-process.
if(TARGET kivplc)
  foreach(name test_cli test_cli_documents test_cli_sheets test_cli_units test_history)
    if(NOT TARGET ${name})
      continue()  # not in this build (docs/windows.md)
    endif()
    add_dependencies(${name} kivplc)
    target_compile_definitions(${name} PRIVATE KIVPLC_BIN="$<TARGET_FILE:kivplc>"
      KIVPLC_WITH_EDITOR=$<BOOL:${KIV_WITH_EDITOR}>)
    target_link_libraries(${name} PRIVATE kivplc_commands)
  endforeach()
endif()

if(WIN32)
  return()  # the runs below drive bash or the PostgreSQL server
endif()

# The demo and the tour in docs/kivplc.md, run as written.
if(TARGET kivplc)
  add_test(NAME kivplc_demo_and_tour
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli_tour.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(kivplc_demo_and_tour PROPERTIES LABELS tour TIMEOUT 300)
endif()

# The large Access fixture copied onto the test run's PostgreSQL server and
# into a file, both exports compared: minutes, so labelled long.
if(TARGET kivplc AND KIV_WITH_POSTGRESQL)
  add_test(NAME kivplc_copy_large_access_through_postgresql
    COMMAND test_cli --gtest_also_run_disabled_tests --gtest_filter=CopyAccess.DISABLED_Large*)
  set_tests_properties(kivplc_copy_large_access_through_postgresql PROPERTIES
    LABELS long TIMEOUT 1800 FIXTURES_REQUIRED pg_server)
endif()

# The large Access fixture exported, imported and exported again: a minute
# or more, so labelled long.
if(TARGET kivplc)
  add_test(NAME kivplc_large_access_round_trip
    COMMAND test_cli --gtest_also_run_disabled_tests --gtest_filter=Transfer.DISABLED_Large*)
  set_tests_properties(kivplc_large_access_round_trip PROPERTIES LABELS long TIMEOUT 900)
endif()

# The large Access fixture through a pair of spreadsheets and back, its
# module tables' row hashes checked: minutes, so labelled long.
if(TARGET kivplc)
  add_test(NAME kivplc_large_access_sheets_round_trip
    COMMAND test_cli_sheets --gtest_also_run_disabled_tests --gtest_filter=Sheets.DISABLED_Large*)
  set_tests_properties(kivplc_large_access_sheets_round_trip PROPERTIES LABELS long TIMEOUT 900)
endif()
