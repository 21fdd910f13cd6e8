# Token keys through the provider on the software token with 1000 other
# objects: signing (zk_token_sign) against the module's raw C_SignInit +
# C_Sign, and loading a key by pkcs11: URI against one raw object search.
#   cmake --build <build> --target provider_token_bench && <build>/bench/provider_token_bench
if(TARGET softtoken AND TARGET zk_provider_token)
  add_executable(provider_token_bench ${CMAKE_CURRENT_LIST_DIR}/provider_token_bench.cpp
                 ${CMAKE_SOURCE_DIR}/provider/provider_errors.cpp ${CMAKE_SOURCE_DIR}/provider/prov_key.cpp)
  target_link_libraries(provider_token_bench PRIVATE zk_provider_token gost_objects zkc2012 benchmark::benchmark)
  target_compile_definitions(provider_token_bench PRIVATE SOFTTOKEN_MODULE_PATH="$<TARGET_FILE:softtoken>")
  add_dependencies(provider_token_bench softtoken)
endif()
