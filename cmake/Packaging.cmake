# Three packages, so that a server gets the command line without the desktop:
#   ipcountry-data (component data, Architecture: all): the address ranges,
#     country names, flags and map, in lib/ipcountry;
#   ipcountry-cli (component cli): the driver, the converter, the updater and
#     its systemd units, their manual pages and bash completion; no Qt, no
#     libxlsxwriter;
#   ipcountry (component gui): the window, its menu entry, icon and page.
# The programs read their data from their own directory (lib/ipcountry), so
# the driver and the window live there beside the data, with links in bin/.
set(IPCOUNTRY_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/ipcountry)
# Every package has its own documentation folder (lintian wants a copyright
# file in each).
set(IPCOUNTRY_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc)

install(TARGETS ipcountry-batch RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT cli)
# The converter and the updater find their data through options and the data
# folders, not beside themselves: they live in bin/.
install(TARGETS ipcountry-make-ip-db RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
if(TARGET ipcountry-update-data)
  install(TARGETS ipcountry-update-data RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()
if(TARGET ipcountry)
  install(TARGETS ipcountry RUNTIME DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT gui)
endif()
# The range files as the build copied them, each with the index it saved
# beside it, so that the installed program never writes into this folder.
install(FILES ${PROJECT_SOURCE_DIR}/data/Country.dbf ${PROJECT_BINARY_DIR}/bin/IP_db.dbf
              ${PROJECT_BINARY_DIR}/bin/IP_db.dbf.index ${PROJECT_BINARY_DIR}/bin/IP6_db.dbf
              ${PROJECT_BINARY_DIR}/bin/IP6_db.dbf.index ${PROJECT_SOURCE_DIR}/data/asn.bin
              ${PROJECT_SOURCE_DIR}/data/provenance.txt ${PROJECT_SOURCE_DIR}/data/world_map.txt
        DESTINATION ${IPCOUNTRY_INSTALL_DIR} COMPONENT data)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/flags DESTINATION ${IPCOUNTRY_INSTALL_DIR}
        COMPONENT data FILES_MATCHING PATTERN "*.gif")
install(FILES ${PROJECT_SOURCE_DIR}/data/README.md DESTINATION ${IPCOUNTRY_DOC_DIR}/ipcountry-data
        RENAME DATA.md COMPONENT data)
# The manual pages point to its recipes (several machines, newer data).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${IPCOUNTRY_DOC_DIR}/ipcountry-cli
        COMPONENT cli)

# Relative links, so that the tree works wherever it is unpacked.
foreach(exe ipcountry ipcountry-batch)
  if(TARGET ${exe})
    if(exe STREQUAL "ipcountry")
      set(component gui)
    else()
      set(component cli)
    endif()
    install(CODE "
      file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      file(CREATE_LINK \"../${IPCOUNTRY_INSTALL_DIR}/${exe}\"
           \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${exe}\" SYMBOLIC)"
      COMPONENT ${component})
  endif()
endforeach()

if(TARGET ipcountry)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ipcountry.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/ipcountry.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT gui)
endif()

set(CPACK_PACKAGE_NAME ipcountry)
set(CPACK_PACKAGE_VENDOR "The ipcountry developers")
# No project address exists yet: the reserved .invalid domain says so plainly
# (and lintian takes it); replace it with the real one when there is one.
set(CPACK_PACKAGE_CONTACT "The ipcountry developers <maintainers@ipcountry.invalid>")
# CPack puts any other summary in front of every package's description; each
# package's description below begins with its own summary line instead.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_NAME} built using CMake")
set(IPCOUNTRY_ABOUT "\
ipcountry looks up the country of IPv4 and IPv6 addresses in the regional
Internet registries' address ranges, which it carries with it: no network
is needed.")
set(CPACK_DEBIAN_DATA_DESCRIPTION "address ranges and country names for ipcountry
${IPCOUNTRY_ABOUT}
.
This package holds the data that ipcountry and ipcountry-cli read: the
address ranges of both families, the country names, the flags and the
world map of the HTML report, with where they come from and as of when.")
set(CPACK_DEBIAN_CLI_DESCRIPTION "tell the country of IPv4 and IPv6 addresses in logs, from the command line
${IPCOUNTRY_ABOUT}
.
ipcountry-batch answers addresses given to it, or finds them in lists and
in free text such as web, mail and firewall logs (several rotated,
compressed logs at once), with output as tab-separated rows, CSV or JSON
Lines, statistics per country, an HTML report, and merges the statistics
of runs on many machines. ipcountry-make-ip-db converts other country
databases in CSV form; ipcountry-update-data refreshes the address ranges,
with a systemd timer (disabled until enabled) for the system's copy.
.
This package needs neither a desktop nor a display: install it on
servers.")
set(CPACK_DEBIAN_GUI_DESCRIPTION "tell the country of IPv4 and IPv6 addresses, one at a time or from logs
${IPCOUNTRY_ABOUT}
.
Its window answers one address with the country's name and flag, or
analyses a text file into a results grid of address, port and country: a
list of address:port lines, or free text such as a web or mail server's
log, in which addresses are found wherever they stand. Every analysis ends
with the count and share of each country; the grid can be purged of
repeated rows and exported to a spreadsheet.
.
The command-line tools come with it, in ipcountry-cli.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The program's own code; the data's licences are in packaging/copyright.
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# As the first entry of packaging/changelog says.
set(CPACK_DEBIAN_PACKAGE_RELEASE 2)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# One source, one changelog (packaging/changelog) for all three.
set(CPACK_DEBIAN_PACKAGE_SOURCE ipcountry)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL data cli)
if(TARGET ipcountry)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
# The exact version of each other, since they are built together and the
# driver reads the data's files by name.
set(ipcountry_deb_version "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_DATA_PACKAGE_NAME ipcountry-data)
set(CPACK_DEBIAN_DATA_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_DATA_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ipcountry-cli)
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "ipcountry-data (= ${ipcountry_deb_version})")
# The updater fetches over HTTPS: without the certificate store every download fails.
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "ca-certificates")
# ipcountry 1.0.0-1 held the driver and the data itself: dpkg lets the new
# packages take its files over instead of refusing to overwrite them.
set(ipcountry_took_over "ipcountry (<< 1.0.0-2)")
foreach(component DATA CLI)
  set(CPACK_DEBIAN_${component}_PACKAGE_BREAKS "${ipcountry_took_over}")
  set(CPACK_DEBIAN_${component}_PACKAGE_REPLACES "${ipcountry_took_over}")
endforeach()
set(CPACK_DEBIAN_GUI_PACKAGE_NAME ipcountry)
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS
    "ipcountry-data (= ${ipcountry_deb_version}), ipcountry-cli (= ${ipcountry_deb_version})")
# Stripped executables. No separate debug-symbol package: the one CPack 3.25
# makes (CPACK_DEBIAN_DEBUGINFO_PACKAGE) lists build-tree paths in its
# md5sums and has no copyright or changelog, which lintian rejects.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
