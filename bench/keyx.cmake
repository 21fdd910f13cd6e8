# Key transport through the token engine on the software token: wraps and
# unwraps per second against the token's raw C_DeriveKey rate.
#   cmake --build <build> --target keyx_bench && <build>/bench/keyx_bench
if(TARGET softtoken)
  add_executable(keyx_bench ${CMAKE_CURRENT_LIST_DIR}/keyx_bench.cpp)
  target_link_libraries(keyx_bench PRIVATE zk_p11_core gost_objects benchmark::benchmark ${CMAKE_DL_LIBS})
  target_compile_definitions(keyx_bench PRIVATE SOFTTOKEN_MODULE_PATH="$<TARGET_FILE:softtoken>")
  add_dependencies(keyx_bench softtoken)
endif()
