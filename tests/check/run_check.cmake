# Runs tavupd-check in a kit directory (the profile TAVUPD.DAT by default)
# and compares its output and exit status with the expected ones. The same
# expected output is what TAVUPD.EXE -c must print for the kit (e2e_check).
#   cmake -DPROGRAM=... -DKIT=... -DEXPECTED=... -DSTATUS=... -P run_check.cmake
execute_process(COMMAND ${PROGRAM} WORKING_DIRECTORY ${KIT} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "tavupd-check in ${KIT} printed:\n${out}\nexpected:\n${expected}")
endif()
if(NOT rc STREQUAL STATUS)
  message(FATAL_ERROR "tavupd-check in ${KIT} ended with status ${rc}, expected ${STATUS}")
endif()
