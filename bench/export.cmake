# The spreadsheet export of a million rows, up to the written workbook.
if(IPCOUNTRY_BUILD_UI)
  include(${PROJECT_SOURCE_DIR}/src/ui/export/export.cmake)
  ipcountry_add_bench(export_bench ${CMAKE_CURRENT_LIST_DIR}/export/export_bench.cpp)
  target_link_libraries(export_bench PRIVATE ipcountry::export)
endif()
