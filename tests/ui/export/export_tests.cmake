# Tests of the spreadsheet export: the call sequence against a recording
# double, and the in-process spreadsheet application with its written
# workbook read back through libzip.
include(${PROJECT_SOURCE_DIR}/src/ui/export/export.cmake)
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LIBZIP)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
endif()

ipcountry_add_test(NAME export_calls_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/excel_export_test.cpp
  LIBS ipcountry::export)

ipcountry_add_test(NAME export_spreadsheet_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/in_process_spreadsheet_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/xlsx_reader.cpp
          ${CMAKE_CURRENT_LIST_DIR}/xdg_desktop_test.cpp
  LIBS ipcountry::export PkgConfig::LIBZIP Qt6::Core)
