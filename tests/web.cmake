# The editor's API tests talk HTTP to the server in-process.
if(TARGET kivplc_web)
  pkg_check_modules(HTTPLIB_CLIENT REQUIRED IMPORTED_TARGET cpp-httplib)
  target_link_libraries(test_web_api PRIVATE kivplc_web PkgConfig::HTTPLIB_CLIENT)
endif()

