# The reliability tests' worker program and helpers (tests/tools/): the
# crash test kills the worker mid-work, the concurrency test runs workers
# beside its own threads.
file(GLOB KIV_RELIABILITY_TOOL_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tools/*.cpp)
list(FILTER KIV_RELIABILITY_TOOL_SOURCES EXCLUDE REGEX "/reliability_worker\\.cpp$")
add_library(kiv_reliability_tools STATIC ${KIV_RELIABILITY_TOOL_SOURCES})
target_include_directories(kiv_reliability_tools PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools)
target_link_libraries(kiv_reliability_tools PUBLIC kivplcdb SQLite::SQLite3)
target_compile_options(kiv_reliability_tools PRIVATE ${KIV_WARNINGS})
target_compile_definitions(kiv_reliability_tools PRIVATE
  KIV_RELIABILITY_WORKER="$<TARGET_FILE:kiv_reliability_worker>")

add_executable(kiv_reliability_worker ${CMAKE_CURRENT_SOURCE_DIR}/tools/reliability_worker.cpp)
target_link_libraries(kiv_reliability_worker PRIVATE kiv_reliability_tools)
target_compile_options(kiv_reliability_worker PRIVATE ${KIV_WARNINGS})

foreach(test test_crash test_concurrency test_faults test_bad_input)
  if(TARGET ${test})
    target_link_libraries(${test} PRIVATE kiv_reliability_tools)
    add_dependencies(${test} kiv_reliability_worker)
  endif()
endforeach()
