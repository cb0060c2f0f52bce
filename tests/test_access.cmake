# The Access tests (and the others that include cli_run.h) read the
# fixtures in the shared folder beside the clone (skipping when it is
# absent) and their manifests with nlohmann-json; file and row hashes are
# OpenSSL's SHA-256.
find_package(nlohmann_json 3 REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
foreach(name test_access test_cli test_web_api test_cli_documents test_cli_sheets test_roles test_history)
  if(TARGET ${name})
    target_link_libraries(${name} PRIVATE nlohmann_json::nlohmann_json OpenSSL::Crypto)
    target_compile_definitions(${name} PRIVATE
      KIV_ACCESS_FIXTURES="${PROJECT_SOURCE_DIR}/../shared/fixtures/access")
  endif()
endforeach()
