ipcountry_add_bench(lookup_bench ${CMAKE_CURRENT_SOURCE_DIR}/lookup/lookup_bench.cpp)
target_link_libraries(lookup_bench PRIVATE ipcountry::lookup)
target_compile_definitions(lookup_bench PRIVATE IPCOUNTRY_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
