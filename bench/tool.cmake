# The tool's start-up cost: tokencert listing 1000 certificates, beside a tiny
# program making only the module's own calls for the same listing, on the
# software token and on SoftHSM2 (child processes, wall time).
#   cmake --build <build> --target tool_bench && <build>/bench/tool_bench
if(TARGET tokencert AND TARGET softtoken AND TARGET test_common)
  add_executable(tool_bench_reference ${CMAKE_CURRENT_LIST_DIR}/tool_bench_reference.cpp)
  target_link_libraries(tool_bench_reference PRIVATE pkcs11_headers ${CMAKE_DL_LIBS})

  add_executable(tool_bench ${CMAKE_CURRENT_LIST_DIR}/tool_bench.cpp)
  target_link_libraries(tool_bench PRIVATE test_common benchmark::benchmark)
  target_compile_definitions(tool_bench PRIVATE
    TOKENCERT_PATH="$<TARGET_FILE:tokencert>"
    REFERENCE_PATH="$<TARGET_FILE:tool_bench_reference>"
    SOFTTOKEN_MODULE_PATH="$<TARGET_FILE:softtoken>"
    SOFTTOKEN_UTIL_PATH="$<TARGET_FILE:softtoken-util>")
  add_dependencies(tool_bench tokencert tool_bench_reference softtoken softtoken-util)
endif()
