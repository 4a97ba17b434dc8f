# Runs mrvconvert IN OUT and fails unless it exits with CODE.
execute_process(COMMAND ${EXE} ${IN} ${OUT} RESULT_VARIABLE code)
if(NOT code EQUAL CODE)
  message(FATAL_ERROR "mrvconvert ${IN} ${OUT} exited with ${code}, expected ${CODE}")
endif()
