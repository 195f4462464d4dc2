# Release kit: the two programs, the language file, an example installation
# profile and the manual in one ZIP whose files go straight beside a patch's
# payload files.
#
#   cmake --build build/ship --target package   ->  build/ship/tavupd-<version>-win32.zip
#
# Only the shipped tree (cmake/mingw-i686-ship.cmake) makes the kit.

if(TARGET tavupd)
  install(PROGRAMS $<TARGET_FILE:tavupd> DESTINATION . RENAME TAVUPD.EXE)
endif()
if(TARGET restarter)
  install(PROGRAMS $<TARGET_FILE:restarter> DESTINATION . RENAME RESTARTER.EXE)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/tavupd/TAVUPD.MSG DESTINATION .)
# The kit's programs carry no debugging symbols.
if(CMAKE_STRIP)
  install(CODE "
    foreach(exe TAVUPD.EXE RESTARTER.EXE)
      set(f \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${exe}\")
      if(EXISTS \"\${f}\")
        execute_process(COMMAND \"${CMAKE_STRIP}\" \"\${f}\")
      endif()
    endforeach()")
endif()

# Text files of the kit get Windows line ends.
configure_file(${CMAKE_SOURCE_DIR}/examples/patch/TAVUPD.DAT ${CMAKE_BINARY_DIR}/kit/EXAMPLE/TAVUPD.DAT
               @ONLY NEWLINE_STYLE CRLF)
configure_file(${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/kit/README.md @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/kit/EXAMPLE/TAVUPD.DAT DESTINATION EXAMPLE)
install(FILES ${CMAKE_BINARY_DIR}/kit/README.md DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tavupd)
set(CPACK_PACKAGE_VENDOR "Tavro patch installer team")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tavupd-${PROJECT_VERSION}-win32)
# The kit's path, for its import check (CPack changes the variable above).
set(TAVUPD_KIT ${CMAKE_BINARY_DIR}/${CPACK_PACKAGE_FILE_NAME}.zip)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES OFF)
include(CPack)
