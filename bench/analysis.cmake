# The batch analyses: free text against ripgrep and grep, the scanner alone,
# the formatted list; and the corpus generator on its own for scripts.
add_library(ipcountry_bench_corpus STATIC ${CMAKE_CURRENT_SOURCE_DIR}/analysis/corpus.cpp)
ipcountry_configure_target(ipcountry_bench_corpus)

ipcountry_add_bench(analysis_bench ${CMAKE_CURRENT_SOURCE_DIR}/analysis/analysis_bench.cpp)
target_link_libraries(analysis_bench PRIVATE ipcountry::analysis ipcountry_bench_corpus)
target_compile_definitions(analysis_bench PRIVATE IPCOUNTRY_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
add_dependencies(analysis_bench ipcountry-batch)

add_executable(ipcountry_corpus ${CMAKE_CURRENT_SOURCE_DIR}/analysis/corpus_main.cpp)
ipcountry_configure_target(ipcountry_corpus)
target_link_libraries(ipcountry_corpus PRIVATE ipcountry_bench_corpus)
set_target_properties(ipcountry_corpus PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)

# The parts of a run one at a time, for the limit table (bench/analysis/limits).
add_executable(ipcountry_limits ${CMAKE_CURRENT_SOURCE_DIR}/analysis/limits_main.cpp)
ipcountry_configure_target(ipcountry_limits)
target_link_libraries(ipcountry_limits PRIVATE ipcountry::analysis)
set_target_properties(ipcountry_limits PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bench)
