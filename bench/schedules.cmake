# Judging every schedule again after the clock jumped.
if(TARGET schedules-core)
  gw_add_bench(bench_schedules SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_schedules.cpp LIBS schedules-core)
endif()
