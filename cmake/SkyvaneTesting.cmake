# Test helpers. Every test gets a label and a timeout, and runs with its own
# HOME and config folder so that nothing touches the user's real settings.
if(SKYVANE_BUILD_TESTS)
  enable_testing()
  find_package(GTest REQUIRED)
endif()

# skyvane_add_gtest(NAME name SOURCES ... LIBS ... LABEL label [TIMEOUT s] [GUI])
# The test's main() comes from platform/testing: a QCoreApplication (or, with
# GUI, a QApplication on the offscreen platform) around GoogleTest.
function(skyvane_add_gtest)
  if(NOT SKYVANE_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  if(T_GUI)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} skyvane_testmain_gui)
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} skyvane_testmain)
  endif()
  set(home ${CMAKE_BINARY_DIR}/test-home/${T_NAME})
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(envs
    "HOME=${home}"
    "XDG_CONFIG_HOME=${home}/config"
    "XDG_RUNTIME_DIR=${home}/run"
    "SKYVANE_BIN_DIR=${SKYVANE_RUNTIME_DIR}"
    "SKYVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "SKYVANE_HTTP_PORT=0"
    "QT_QPA_PLATFORM=offscreen")
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${T_LABEL}"
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${envs}")
endfunction()
