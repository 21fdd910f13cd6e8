# GOST objects and key methods: name lookups and certificate decoding, with
# OpenSSL's own lookup and an ECDSA P-256 certificate measured in the same run.
#   cmake --build <build> --target gost_objects_bench && <build>/bench/gost_objects_bench
add_executable(gost_objects_bench ${CMAKE_CURRENT_LIST_DIR}/gost_objects_bench.cpp)
target_link_libraries(gost_objects_bench PRIVATE zk_p11_core gost_objects benchmark::benchmark OpenSSL::Crypto)
