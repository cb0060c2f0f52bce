# kiv_add_tool_library(NAME SOURCES...): one of the tool's libraries (the
# catalogue layer, the commands, the editor's server).  Static, unless
# KIV_FAULT_RUN is on: then shared, with every symbol visible, so
# that a change to one of its files relinks that library alone instead of
# every program and test built on it.  That is what a planted-fault run
# (docs/reliability.md) wants; the shipped tool keeps them static.
include_guard(GLOBAL)

function(kiv_add_tool_library name)
  if(KIV_FAULT_RUN)
    add_library(${name} SHARED ${ARGN})
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET default VISIBILITY_INLINES_HIDDEN OFF)
    install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    add_library(${name} STATIC ${ARGN})
  endif()
endfunction()
