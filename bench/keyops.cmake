# Signing through the token engine (EVP_PKEY_sign with a key on the token:
# session, search by CKA_ID, C_SignInit, C_Sign) against the module's own
# C_SignInit + C_Sign on the same key in an open session, on the software token.
#   cmake --build <build> --target keyops_bench && <build>/bench/keyops_bench
if(TARGET softtoken AND TARGET zk_p11_core)
  add_executable(keyops_bench ${CMAKE_CURRENT_LIST_DIR}/keyops_bench.cpp)
  target_link_libraries(keyops_bench PRIVATE zk_p11_core benchmark::benchmark ${CMAKE_DL_LIBS})
  target_compile_definitions(keyops_bench PRIVATE SOFTTOKEN_MODULE_PATH="$<TARGET_FILE:softtoken>")
  add_dependencies(keyops_bench softtoken)
endif()
