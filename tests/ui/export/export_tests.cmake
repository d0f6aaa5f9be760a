# Tests of the spreadsheet export: workbooks written and read back through
# libzip, the refusals and failures, and the desktop's program lookup.
include(${PROJECT_SOURCE_DIR}/src/ui/export/export.cmake)
find_package(PkgConfig REQUIRED)
if(NOT TARGET PkgConfig::LIBZIP)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET GLOBAL libzip)
endif()

ipcountry_add_test(NAME export_workbook_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/workbook_export_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/xlsx_reader.cpp
          ${CMAKE_CURRENT_LIST_DIR}/xdg_desktop_test.cpp
  LIBS ipcountry::export PkgConfig::LIBZIP Qt6::Core)
