# libFuzzer targets for the parsers that read outside input (clang only).
#   cmake -S . -B build/fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#         -DTESSEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
#   cmake --build build/fuzz --target tessel_fuzzers
#   ctest --test-dir build/fuzz -L fuzz             # seed corpus once, no fuzzing
#   tests/fuzz/run-fuzzers.sh build/fuzz/bin 60     # real fuzzing
# The sources are compiled here again, instrumented, rather than linking the plain libraries.
include_guard(GLOBAL)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "TESSEL_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
endif()

get_filename_component(TESSEL_FUZZ_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(TESSEL_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)

file(GLOB TESSEL_FUZZ_PORTABLE_SOURCES CONFIGURE_DEPENDS
  ${TESSEL_FUZZ_ROOT}/app/portable/*.cpp ${TESSEL_FUZZ_ROOT}/package/portable/*.cpp
  ${TESSEL_FUZZ_ROOT}/settings/portable/*.cpp ${TESSEL_FUZZ_ROOT}/install/portable/*.cpp
  ${TESSEL_FUZZ_ROOT}/ui/portable/*.cpp)
add_library(tessel_fuzz_portable STATIC ${TESSEL_FUZZ_PORTABLE_SOURCES})
target_include_directories(tessel_fuzz_portable PUBLIC ${TESSEL_FUZZ_ROOT})
target_compile_features(tessel_fuzz_portable PUBLIC cxx_std_20)
target_compile_options(tessel_fuzz_portable PRIVATE ${TESSEL_FUZZ_FLAGS})

# Only the text-handling part of the packaging tool; it needs no libgcab.
set(TESSEL_FUZZ_PACK_SRC ${TESSEL_FUZZ_ROOT}/tools/tessel-pack/src)
add_library(tessel_fuzz_pack STATIC
  ${TESSEL_FUZZ_PACK_SRC}/Description.cpp
  ${TESSEL_FUZZ_PACK_SRC}/CodePage.cpp
  ${TESSEL_FUZZ_PACK_SRC}/Util.cpp)
target_link_libraries(tessel_fuzz_pack PUBLIC tessel_fuzz_portable)
target_compile_options(tessel_fuzz_pack PRIVATE ${TESSEL_FUZZ_FLAGS})

add_custom_target(tessel_fuzzers)
foreach(name package_index base64 launch_line description language_list)
  set(target fuzz_${name})
  add_executable(${target} ${TESSEL_FUZZ_ROOT}/tests/fuzz/${target}.cpp)
  if(name STREQUAL "description")
    target_link_libraries(${target} PRIVATE tessel_fuzz_pack)
  else()
    target_link_libraries(${target} PRIVATE tessel_fuzz_portable)
  endif()
  target_compile_options(${target} PRIVATE ${TESSEL_FUZZ_FLAGS} -Wall -Wextra)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  add_dependencies(tessel_fuzzers ${target})

  # Regression: every seed once (-runs=0 reads the corpus and mutates nothing).
  add_test(NAME fuzz.${name}
           COMMAND ${target} -runs=0 -rss_limit_mb=2048 -timeout=10
                   ${TESSEL_FUZZ_ROOT}/tests/fuzz/corpus/${target})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()
