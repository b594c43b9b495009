# Runs COMMAND (a list) and keeps what it prints in OUTPUT; fails the build
# if the command fails.
execute_process(COMMAND ${COMMAND} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${COMMAND} failed: ${status}")
endif()
