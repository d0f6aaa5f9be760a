# Install layout: the program, the driver and the data share one folder,
# lib/ipcountry, because the program reads its files from its own directory.
# bin/ gets links to both executables; the desktop menu gets an entry and the icon.
set(IPCOUNTRY_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ipcountry)

install(TARGETS ipcountry-batch RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
if(TARGET ipcountry)
  install(TARGETS ipcountry RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/Country.dbf ${PROJECT_SOURCE_DIR}/data/IP_db.dbf
              ${PROJECT_SOURCE_DIR}/data/IP6_db.dbf
              ${PROJECT_SOURCE_DIR}/data/provenance.txt
        DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT ipcountry)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/flags DESTINATION ${IPCOUNTRY_INSTALL_DIR}
        COMPONENT ipcountry FILES_MATCHING PATTERN "*.gif")
install(FILES ${PROJECT_SOURCE_DIR}/data/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME DATA.md COMPONENT ipcountry)

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
set(CPACK_PACKAGE_CONTACT "ipcountry developers <ipcountry@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tells the country of IPv4 addresses, one at a time or from logs")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/ipcountry")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
