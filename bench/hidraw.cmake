# The flash loop through hidraw against the emulated sensor (umockdev), beside a bare loop
# of the same ioctls on the same node. Built when the Linux platform and its test harness
# (tests/support) exist; run it as any benchmark: build/bin/hidraw_bench.
if(TARGET zorflash_platform_linux AND TARGET zorflash_emulated_sensor)
    add_executable(hidraw_bench ${CMAKE_CURRENT_SOURCE_DIR}/hidraw_bench.cpp
                   ${CMAKE_CURRENT_SOURCE_DIR}/null_view.cpp)
    target_include_directories(hidraw_bench PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    zorflash_link(hidraw_bench zorflash_platform_linux)
    target_link_libraries(hidraw_bench PRIVATE zorflash_emulated_sensor benchmark::benchmark
                                               Threads::Threads)
endif()
