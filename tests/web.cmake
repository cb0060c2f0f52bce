# The editor's API tests talk HTTP to the server in-process.
if(TARGET kivplc_web)
  pkg_check_modules(HTTPLIB_CLIENT REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(test_web_api PRIVATE kivplc_web PkgConfig::HTTPLIB_CLIENT)
endif()

# The large Access fixture's export imported through the editor with the
# options a user gets: minutes, so labelled long.
if(TARGET kivplc_web)
  target_compile_definitions(test_web_api PRIVATE KIV_ACCESS_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures/access")
  add_test(NAME web_api_large_access_import
    COMMAND test_web_api --gtest_also_run_disabled_tests --gtest_filter=WebApiTest.DISABLED_Large*)
  set_tests_properties(web_api_large_access_import PROPERTIES LABELS long TIMEOUT 1800
    ENVIRONMENT "KIV_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endif()
