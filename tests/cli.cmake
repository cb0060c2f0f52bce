# The test_cli* tests run the built kivplc tool, so they build it first, and
# may use its pieces in-process.
if(TARGET kivplc)
  file(GLOB KIV_CLI_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_cli*.cpp)
  foreach(source ${KIV_CLI_TESTS})
    get_filename_component(name ${source} NAME_WE)
    add_dependencies(${name} kivplc)
    target_compile_definitions(${name} PRIVATE KIVPLC_BIN="$<TARGET_FILE:kivplc>")
    target_link_libraries(${name} PRIVATE kivplc_commands)
  endforeach()
endif()

# The demo and the tour in docs/kivplc.md, run as written.
if(TARGET kivplc)
  add_test(NAME kivplc_demo_and_tour
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cli_tour.sh ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  set_tests_properties(kivplc_demo_and_tour PROPERTIES TIMEOUT 300)
endif()
