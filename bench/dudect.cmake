# dudect on the crypto core's secret-handling curve functions and the
# software token's key generation (about eleven minutes at 100,000 samples
# per class; DUDECT_SAMPLES sets another count).
#   cmake --build <build> --target dudect_bench && <build>/bench/dudect_bench
add_executable(dudect_bench ${CMAKE_CURRENT_LIST_DIR}/dudect_bench.cpp)
target_link_libraries(dudect_bench PRIVATE softtoken_core benchmark::benchmark)
