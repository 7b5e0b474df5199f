# Shared build settings and helpers for every folder.

# Bit-exact arithmetic: no fused multiply-add, no fast-math, SSE2 floats (the x86-64 default).
add_compile_options(-ffp-contract=off -fno-fast-math)
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
endif()

if(MUSICDISK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(MUSICDISK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(MUSICDISK_SANITIZE)
  message(FATAL_ERROR "MUSICDISK_SANITIZE must be address, thread or empty")
endif()

# In the fuzz build every library is instrumented for coverage, so the fuzz targets get
# feedback from the code they drive, not only from their own few lines.
if(MUSICDISK_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# md_library(name SOURCES ... [DEPS ...]): a subsystem library rooted at the project top,
# so headers are included as "render/framebuffer.h".
function(md_library name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
  if(A_DEPS)
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  endif()
endfunction()

# md_test(name SOURCES ... [DEPS ...] [LABELS ...]): one GoogleTest program, its cases
# registered with CTest when the tests run (no test binary runs at build time).
function(md_test name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;LABELS;PROPERTIES" ${ARGN})
  if(NOT MUSICDISK_TESTS)
    return()
  endif()
  if(NOT TARGET GTest::gtest)
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    MD_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MD_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set(props)
  if(A_LABELS)
    set(props LABELS "${A_LABELS}")
  endif()
  # Real-window tests time what a person would see; they run alone, not beside other tests.
  if("xvfb" IN_LIST A_LABELS OR "wine" IN_LIST A_LABELS)
    list(APPEND props RUN_SERIAL TRUE)
  endif()
  list(APPEND props ${A_PROPERTIES})
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator (Wine) each start is costly: one CTest test per program, which runs
    # all of its cases.
    add_test(NAME ${name} COMMAND ${name})
    if(props)
      set_tests_properties(${name} PROPERTIES ${props})
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ${props})
  endif()
  # The thread-sanitizer run builds only what it runs.
  if("threads" IN_LIST A_LABELS)
    if(NOT TARGET md_threads_tests)
      add_custom_target(md_threads_tests)
    endif()
    add_dependencies(md_threads_tests ${name})
  endif()
endfunction()

# md_build_tool(name SOURCES ... [DEPS ...]): a program the build itself runs (packing and
# embedding the assets). A cross build takes it from the native build folder
# MUSICDISK_HOST_TOOLS, at the same place under it as here.
function(md_build_tool name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  if(MUSICDISK_HOST_TOOLS)
    file(RELATIVE_PATH folder ${PROJECT_BINARY_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    add_executable(${name} IMPORTED GLOBAL)
    set_target_properties(${name} PROPERTIES IMPORTED_LOCATION ${MUSICDISK_HOST_TOOLS}/${folder}/${name})
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(A_DEPS)
    target_link_libraries(${name} PRIVATE ${A_DEPS})
  endif()
endfunction()

# md_fuzzer(name SOURCES ... [DEPS ...] [SEEDS dir ...]): a libFuzzer target, built only with
# MUSICDISK_FUZZ (clang). It is also a CTest test labelled "fuzz" that runs for
# MUSICDISK_FUZZ_SECONDS, starting from the seed folders when given.
function(md_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;SEEDS" ${ARGN})
  if(NOT MUSICDISK_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${corpus})
  set(dirs ${corpus})
  if(A_SEEDS)
    list(APPEND dirs ${A_SEEDS})
  endif()
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${MUSICDISK_FUZZ_SECONDS}
           -rss_limit_mb=4096 -print_final_stats=1 ${dirs})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  if(NOT TARGET md_fuzz_targets)
    add_custom_target(md_fuzz_targets)
  endif()
  add_dependencies(md_fuzz_targets ${name})
endfunction()

# md_bench(name SOURCES ... [DEPS ...]): a Google Benchmark program.
function(md_bench name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${A_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
endfunction()

# Adds every immediate subfolder of the current folder that has a CMakeLists.txt, so
# each module's tests, tools and benchmarks live in their own folder.
function(md_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
