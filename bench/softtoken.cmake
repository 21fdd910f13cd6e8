# The softtoken module's benchmark: GOST key generation, signing, verification
# and key agreement through the PKCS#11 function list, with OpenSSL's ECDSA
# P-256 measured in the same run as the reference.
#   cmake --build <build> --target softtoken_bench && <build>/bench/softtoken_bench
add_executable(softtoken_bench ${CMAKE_CURRENT_LIST_DIR}/softtoken_bench.cpp)
target_link_libraries(softtoken_bench PRIVATE softtoken_core benchmark::benchmark OpenSSL::Crypto)
