# The results grid at a million rows: appending (time and bytes per row) and
# duplicate removal.
if(IPCOUNTRY_BUILD_UI)
  ipcountry_add_bench(ui_grid_bench ${CMAKE_CURRENT_LIST_DIR}/ui/grid_bench.cpp)
  target_link_libraries(ui_grid_bench PRIVATE ipcountry::ui)
endif()
