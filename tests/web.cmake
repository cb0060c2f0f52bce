# The editor's API tests talk HTTP to the server in-process.
if(TARGET kivplc_web)
  pkg_check_modules(HTTPLIB_CLIENT REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(test_web_api PRIVATE kivplc_web PkgConfig::HTTPLIB_CLIENT)
endif()
# The editor against changes that a kivplc process makes meanwhile.
if(TARGET kivplc_web AND TARGET kivplc)
  add_dependencies(test_web_api kivplc)
  target_compile_definitions(test_web_api PRIVATE KIVPLC_BIN="$<TARGET_FILE:kivplc>")
endif()
# The roles' tests run the tool, ask the editor's API in-process, and make
# the people's server accounts through libpq.
if(TARGET test_roles)
  add_dependencies(test_roles kivplc)
  target_compile_definitions(test_roles PRIVATE KIVPLC_BIN="$<TARGET_FILE:kivplc>")
  target_link_libraries(test_roles PRIVATE kivplc_web PkgConfig::LIBPQ PkgConfig::HTTPLIB_CLIENT)
endif()
