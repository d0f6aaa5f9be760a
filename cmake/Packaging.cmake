# Install layout: the program, the driver and the data share one folder,
# lib/ipcountry, because the program reads its files from its own directory.
# bin/ gets links to both executables; the desktop menu gets an entry and the icon.
set(IPCOUNTRY_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ipcountry)

install(TARGETS ipcountry-batch RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
# The converter reads and writes only the files it is given: it lives in bin/ itself.
install(TARGETS ipcountry-make-ip-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ipcountry)
if(TARGET ipcountry)
  install(TARGETS ipcountry RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/Country.dbf ${PROJECT_SOURCE_DIR}/data/IP_db.dbf
              ${PROJECT_SOURCE_DIR}/data/IP6_db.dbf
              ${PROJECT_SOURCE_DIR}/data/provenance.txt ${PROJECT_SOURCE_DIR}/data/world_map.txt
        DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/flags DESTINATION ${IPCOUNTRY_INSTALL_DIR}
        COMPONENT ipcountry FILES_MATCHING PATTERN "*.gif")
install(FILES ${PROJECT_SOURCE_DIR}/data/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME DATA.md COMPONENT ipcountry)
# The manual pages point to its recipes (several machines, newer data).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT ipcountry)

# Relative links, so that the tree works wherever it is unpacked.
foreach(exe ipcountry ipcountry-batch)
  if(TARGET ${exe})
    install(CODE "
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(CREATE_LINK \"../${IPCOUNTRY_INSTALL_DIR}/${exe}\"
           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${exe}\" SYMBOLIC)"
      COMPONENT ipcountry)
  endif()
endforeach()

if(TARGET ipcountry)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ipcountry.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ipcountry)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ipcountry.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT ipcountry)
endif()

set(CPACK_PACKAGE_NAME ipcountry)
set(CPACK_PACKAGE_VENDOR "The ipcountry developers")
# No project address exists yet: the reserved .invalid domain says so plainly
# (and lintian takes it); replace it with the real one when there is one.
set(CPACK_PACKAGE_CONTACT "The ipcountry developers <maintainers@ipcountry.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tell the country of IPv4 and IPv6 addresses, one at a time or from logs")
set(CPACK_PACKAGE_DESCRIPTION "\
ipcountry looks up the country of IPv4 and IPv6 addresses in the regional
Internet registries' address ranges, which it carries with it: no network
is needed.
Its window answers one address with the country's name and flag, or
analyses a text file into a results grid of address, port and country: a
list of address:port lines, or free text such as a web or mail server's
log, in which addresses are found wherever they stand. Every analysis ends
with the count and share of each country; the grid can be purged of
repeated rows and exported to a spreadsheet.
.
ipcountry-batch does the same from the command line and in scripts, with
output as tab-separated rows, CSV or JSON Lines, over several (rotated,
compressed) logs at once, and merges the statistics of runs on many
machines. ipcountry-make-ip-db converts newer or other country databases
in CSV form for it.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The program's own code; the data's licences are in packaging/copyright.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped executables. No separate debug-symbol package: the one CPack 3.25
# makes (CPACK_DEBIAN_DEBUGINFO_PACKAGE) lists build-tree paths in its
# md5sums and has no copyright or changelog, which lintian rejects.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
