# The crypto core's benchmark program: GOST 28147-89 modes, GOST R 34.11 hashes
# and public-key generation, with OpenSSL references measured in the same run.
#   cmake --build <build> --target core_bench && <build>/bench/core_bench
file(GLOB CORE_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/core_bench*.cpp)
add_executable(core_bench ${CORE_BENCH_SOURCES})
target_link_libraries(core_bench PRIVATE zkc2012 benchmark::benchmark OpenSSL::Crypto)
