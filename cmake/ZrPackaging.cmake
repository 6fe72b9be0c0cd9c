# Installation and the Debian package (make package).
#   lib/libzrhdscli.so          the plug-in
#   lib/libzrhost.so            the host stand-in it links against
#   bin/ccisim                  the array simulator
#   libexec/zrhdscli/cci/       the CCI tool names, links to bin/ccisim
#   bin/zrtesthost              the test host
#   share/zrhdscli/             README, scenario files
# The package's binaries are stripped; their debug symbols go into a package
# of their own, as Debian ships them: zrhdscli-dbgsym (a .ddeb beside the
# .deb) with one file per binary under /usr/lib/debug/.build-id/, found by
# gdb from the build id of the installed binary.
include(GNUInstallDirs)

set_target_properties(zrhdscli PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS zrhdscli zrhost LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(TARGET ccisim)
  set_target_properties(ccisim PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS ccisim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Relative links, so the tree works wherever it is installed or unpacked.
  set(zr_cci_dir ${CMAKE_INSTALL_LIBEXECDIR}/zrhdscli/cci)
  file(RELATIVE_PATH zr_cci_target /prefix/${zr_cci_dir} /prefix/${CMAKE_INSTALL_BINDIR}/ccisim)
  foreach(tool raidcom raidqry raidscan pairsyncwait horcmstart.sh horcmshutdown.sh)
    install(CODE "
      set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${zr_cci_dir}\")
      file(MAKE_DIRECTORY \"\${dir}\")
      file(CREATE_LINK \"${zr_cci_target}\" \"\${dir}/${tool}\" SYMBOLIC)")
  endforeach()
endif()
if(TARGET zrtesthost)
  set_target_properties(zrtesthost PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  install(TARGETS zrtesthost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/testhost/scenarios
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zrhdscli FILES_MATCHING PATTERN "*.json")
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/zrhdscli)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zrhdscli")
set(CPACK_PACKAGE_VERSION "1.0.0")
set(CPACK_PACKAGE_CONTACT "zrhdscli maintainers <zrhdscli@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Hitachi VSP snapshot-engine plug-in, its host stand-in, array simulator and test host")
set(CPACK_PACKAGING_INSTALL_PREFIX "/opt/zrhdscli")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libsqlite3-0")
set(CPACK_DEBIAN_PACKAGE_SECTION "admin")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_OUTPUT_FILE_PREFIX "${CMAKE_BINARY_DIR}/packages")
include(CPack)
