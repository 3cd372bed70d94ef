# The monitor as a service: CPU and memory of the real program, headless and windowed.
if(TARGET XOB_Skyvane AND TARGET skyvane_testsupport)
  add_executable(service_bench service_bench.cpp)
  target_link_libraries(service_bench PRIVATE skyvane_testsupport skyvane_settings)
  add_dependencies(service_bench XOB_Skyvane)
  add_dependencies(benchmarks service_bench)
endif()
