# Builds TAVUPD.EXE, RESTARTER.EXE and tavupd_wide95.exe in the shipped tree
# for a 32-bit test tree, configuring that tree first when it is new.
#   cmake -DSOURCE_DIR=<sources> -DBINARY_DIR=<shipped tree> -DGENERATOR=<generator> -P build-shipped.cmake
if(NOT EXISTS "${BINARY_DIR}/CMakeCache.txt")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${BINARY_DIR}" -G "${GENERATOR}"
                          "-DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-i686-ship.cmake"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "The shipped tree ${BINARY_DIR} could not be configured")
  endif()
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BINARY_DIR}" --target tavupd restarter tavupd_wide95
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "The programs that ship could not be built in ${BINARY_DIR}")
endif()
