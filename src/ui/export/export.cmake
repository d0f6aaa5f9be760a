# The spreadsheet export: the grid's rows written straight into a workbook,
# which the desktop's spreadsheet program then opens. Qt Core/Gui only
# (temporary files, the desktop's file opener): the windows reach it through
# ExportGrid.
if(TARGET ipcountry_export)
  return()
endif()
find_package(PkgConfig REQUIRED)
# GLOBAL: the tests and benchmarks link the library from other directories.
pkg_check_modules(XLSXWRITER REQUIRED IMPORTED_TARGET GLOBAL xlsxwriter)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui)

set(_export_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(ipcountry_export STATIC
  ${_export_dir}/workbook_export.cpp
  ${_export_dir}/xdg_desktop.cpp)
add_library(ipcountry::export ALIAS ipcountry_export)
target_include_directories(ipcountry_export PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(ipcountry_export
  PUBLIC Qt6::Core
  PRIVATE Qt6::Gui PkgConfig::XLSXWRITER)
set_target_properties(ipcountry_export PROPERTIES AUTOMOC OFF)
ipcountry_configure_target(ipcountry_export)
unset(_export_dir)

# The windows reach the export through this library.
if(TARGET ipcountry_ui)
  target_link_libraries(ipcountry_ui PUBLIC ipcountry::export)
endif()
