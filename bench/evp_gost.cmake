# The GOST digests, ciphers and MAC of the engine and of the provider through
# EVP against the crypto core's own calls, measured in the same run.
#   cmake --build <build> --target evp_gost_bench && <build>/bench/evp_gost_bench
add_executable(evp_gost_bench ${CMAKE_CURRENT_LIST_DIR}/evp_gost_bench.cpp)
target_link_libraries(evp_gost_bench PRIVATE zk_p11_core gost_objects zkc2012 benchmark::benchmark OpenSSL::Crypto)
target_compile_definitions(evp_gost_bench PRIVATE TOKENCERT_PROVIDER_DIR="${CMAKE_BINARY_DIR}/providers")
add_dependencies(evp_gost_bench zk_p11_core_2012_provider)
