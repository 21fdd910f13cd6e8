# The engine's GOST digests, ciphers and MAC through EVP against the crypto
# core's own calls, measured in the same run.
#   cmake --build <build> --target evp_gost_bench && <build>/bench/evp_gost_bench
add_executable(evp_gost_bench ${CMAKE_CURRENT_LIST_DIR}/evp_gost_bench.cpp)
target_link_libraries(evp_gost_bench PRIVATE zk_p11_core gost_objects zkc2012 benchmark::benchmark OpenSSL::Crypto)
