# A GOST PKCS#12 import end to end: tokencert -infile on the software token,
# CPU time of the child process per import, beside the bare start-up.
#   cmake --build <build> --target import_bench && <build>/bench/import_bench
if(TARGET tokencert AND TARGET softtoken AND TARGET test_common)
  add_executable(import_bench ${CMAKE_CURRENT_LIST_DIR}/import_bench.cpp
                 ${CMAKE_SOURCE_DIR}/tests/ameth/gost_test_keys.cpp)
  target_include_directories(import_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/ameth)
  target_link_libraries(import_bench PRIVATE zk_p11_core gost_objects test_common benchmark::benchmark)
  target_compile_definitions(import_bench PRIVATE TOKENCERT_PATH="$<TARGET_FILE:tokencert>")
  add_dependencies(import_bench tokencert softtoken softtoken-util)
endif()
