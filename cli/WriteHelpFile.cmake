# Runs the tool with one of its hidden flags and keeps what it printed:
#   cmake -DTOOL=kivplc -DFLAG=--manual-page -DOUT=file -P WriteHelpFile.cmake
execute_process(COMMAND ${TOOL} ${FLAG} OUTPUT_FILE ${OUT}.tmp RESULT_VARIABLE rc)
if(rc)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "${TOOL} ${FLAG} failed: ${rc}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
