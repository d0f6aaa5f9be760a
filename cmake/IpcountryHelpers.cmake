# Per-target settings shared by every target of the project.
function(ipcountry_configure_target target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(IPCOUNTRY_WERROR)
      target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(IPCOUNTRY_SANITIZE)
      target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
      target_link_options(${target} PUBLIC -fsanitize=address,undefined)
    endif()
    if(IPCOUNTRY_TSAN)
      target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
      target_link_options(${target} PUBLIC -fsanitize=thread)
    endif()
  endif()
endfunction()

# ipcountry_add_test(NAME name SOURCES ... LIBS ... [QT])
# QT tests get the offscreen platform and the shared Qt test main; the others
# the plain GoogleTest main.
function(ipcountry_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  ipcountry_configure_target(${T_NAME})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    IPCOUNTRY_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    IPCOUNTRY_BIN_DIR="${PROJECT_BINARY_DIR}/bin")
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ipcountry_qt_test_main GTest::gtest Qt6::Test)
    set(env "QT_QPA_PLATFORM=offscreen;QT_HASH_SEED=0;LC_ALL=C.UTF-8")
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest_main)
    set(env "LC_ALL=C.UTF-8")
  endif()
  if(T_QT)
    set(host ipcountry_qt_pch_host)
  else()
    set(host ipcountry_pch_host)
  endif()
  if(TARGET ${host})
    # Qt adds -fPIC to whatever links it, and a precompiled header serves
    # only code compiled as it was: every test and host is compiled with it.
    target_compile_options(${T_NAME} PRIVATE -fPIC)
    target_precompile_headers(${T_NAME} REUSE_FROM ${host})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
endfunction()

# ipcountry_add_pch_host(NAME name [QT])
# A test executable's headers (GoogleTest, the standard library and, for QT,
# Qt Widgets and Qt Test) take longer to read than most tests take to compile:
# one target precompiles them with exactly a test's flags, and every test made
# by ipcountry_add_test in a later directory reuses that. A Qt host must sit in
# the directory of the Qt tests, whose Qt Test definitions name it.
function(ipcountry_add_pch_host)
  cmake_parse_arguments(H "QT" "NAME" "" ${ARGN})
  add_executable(${H_NAME} EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tests/support/pch_host.cpp)
  set_target_properties(${H_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  ipcountry_configure_target(${H_NAME})
  target_compile_options(${H_NAME} PRIVATE -fPIC)
  target_include_directories(${H_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${H_NAME} PRIVATE
    IPCOUNTRY_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    IPCOUNTRY_BIN_DIR="${PROJECT_BINARY_DIR}/bin")
  set(headers <algorithm> <cstdint> <filesystem> <fstream> <map> <memory> <optional>
      <sstream> <string> <string_view> <vector> <gtest/gtest.h>)
  if(H_QT)
    target_link_libraries(${H_NAME} PRIVATE ipcountry_qt_test_main GTest::gtest Qt6::Test)
    list(APPEND headers <QApplication> <QLabel> <QLineEdit> <QMessageBox> <QPushButton>
         <QSignalSpy> <QTableView> <QTest>)
  else()
    target_link_libraries(${H_NAME} PRIVATE GTest::gtest_main)
  endif()
  target_precompile_headers(${H_NAME} PRIVATE ${headers})
endfunction()
