# Runs orn-build-document, writing to OUTPUT either through standard output or
# as its FILE argument (TO_FILE), and compares OUTPUT with EXPECTED byte for byte.
# EMULATOR, when set, runs a cross-built PROGRAM.
file(REMOVE "${OUTPUT}")
if(TO_FILE)
  execute_process(COMMAND ${EMULATOR} "${PROGRAM}" "${OUTPUT}" RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${EMULATOR} "${PROGRAM}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "orn-build-document exited with ${status}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUTPUT}" "${EXPECTED}"
  RESULT_VARIABLE different)
if(different)
  file(READ "${OUTPUT}" got)
  message(FATAL_ERROR "output differs from ${EXPECTED}:\n${got}")
endif()
