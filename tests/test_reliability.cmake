# The reliability tests' helpers (tests/tools/): worker processes, small
# disks, counts printed at the end.
set(KIV_RELIABILITY_TOOL_SOURCES tools/ChildProcess.cpp tools/SmallDisk.cpp)
add_library(kiv_reliability_tools STATIC ${KIV_RELIABILITY_TOOL_SOURCES})
target_include_directories(kiv_reliability_tools PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tools)
target_link_libraries(kiv_reliability_tools PUBLIC kiv_test_support)
target_compile_options(kiv_reliability_tools PRIVATE ${KIV_WARNINGS})
foreach(test test_crash test_faults test_bad_input test_cli)
  target_link_libraries(${test} PRIVATE kiv_reliability_tools)
endforeach()
# The bad-input tables walk the record fields through the catalogue layer's column
# lists, which are kept apart from the library's own.
target_link_libraries(test_bad_input PRIVATE kivplc_catalogue)
# The read-only faults also ask the editor's catalogue layer what it offers.
target_link_libraries(test_faults PRIVATE kivplc_catalogue)

# The unit tests once more under valgrind's memcheck, each executable whole.
# Left out: the crash and concurrency tests (workers, kills and timing),
# of the bad-input tables the text-argument sweep (about a thousand calls,
# each followed by a read of the whole catalogue), and the large Access import (the small ones take the same
# paths; the large one alone took over six minutes under memcheck); the fuzz
# replays run under memcheck from fuzz/.
# glibc's AVX2 wmemcmp reads whole vectors past a string's end, which
# memcheck cannot tell from a real overread, so the plainer versions are
# chosen instead.
find_program(KIV_VALGRIND valgrind)
if(KIV_VALGRIND AND NOT KIV_SANITIZE)
  set(KIV_MEMCHECK_COMMAND ${KIV_VALGRIND} --tool=memcheck --error-exitcode=99 --leak-check=full
      --errors-for-leak-kinds=definite --quiet --suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tools/memcheck.supp
      CACHE INTERNAL "")
  set(KIV_MEMCHECK_ENVIRONMENT "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2" CACHE INTERNAL "")
  foreach(source ${KIV_TEST_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    # Workers, kills, timing or a server of their own (the roles tests run
    # the editor over TLS with sessions that end by the clock): not for
    # valgrind.
    if(name MATCHES "^test_(crash|server_restart|cli|web_api|shared_file|roles)$")
      continue()
    endif()
    # The PostgreSQL cases run the same library code as the SQLite ones; the
    # driver's own memory is checked under ASan.
    set(filter "--gtest_filter=-*/postgresql")
    if(name STREQUAL "test_bad_input")
      set(filter "${filter}:BadInput.*")
    elseif(name STREQUAL "test_access")
      set(filter "${filter}:*catalogue_large_mdb")
    endif()
    add_test(NAME memcheck.${name} COMMAND ${KIV_MEMCHECK_COMMAND} $<TARGET_FILE:${name}> ${filter})
    set_tests_properties(memcheck.${name} PROPERTIES LABELS "memcheck" TIMEOUT 1200 COST 1000
      ENVIRONMENT "KIV_SOURCE_DIR=${PROJECT_SOURCE_DIR};${KIV_MEMCHECK_ENVIRONMENT}")
  endforeach()
endif()

# The shared-file run drives kivplc, its editor over HTTP and the sqlite3 shell.
target_link_libraries(test_shared_file PRIVATE kiv_reliability_tools)
if(TARGET kivplc)
  add_dependencies(test_shared_file kivplc)
  target_compile_definitions(test_shared_file PRIVATE KIVPLC_BIN="$<TARGET_FILE:kivplc>")
endif()
if(TARGET kivplc_web)
  target_link_libraries(test_shared_file PRIVATE PkgConfig::HTTPLIB_CLIENT)
endif()
