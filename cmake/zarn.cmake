# Helpers shared by the folders' build files.
include(GoogleTest)

function(zarn_add_folders)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# The environment every test runs in: the build tree's plugin and libraries,
# no sound device and no display unless a test asks for one, and a private
# GStreamer registry so tests never write to the user's cache.
set(ZARN_TEST_ENV
  "GST_PLUGIN_PATH=${ZARN_PLUGIN_DIR}"
  "GST_REGISTRY=${CMAKE_BINARY_DIR}/gst-registry.bin"
  "GST_REGISTRY_FORK=no"
  "LD_LIBRARY_PATH=${CMAKE_BINARY_DIR}/lib"
  "QT_QPA_PLATFORM=offscreen"
  "ZARN_AUDIO_DEVICE=null"
  "ZARN_BUILD_DIR=${CMAKE_BINARY_DIR}"
  "ZARN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "ASAN_OPTIONS=detect_leaks=0"
  "UBSAN_OPTIONS=print_stacktrace=1"
  "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1")

# zarn_test(NAME name SOURCES ... [LIBS ...] [LABELS ...] [ENV ...] [TIMEOUT s])
# One GoogleTest program; each test case becomes a CTest test.
function(zarn_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main Threads::Threads)
  # gtest_discover_tests flattens list-valued properties (an ENVIRONMENT
  # list kept only its first entry, an empty LABELS swallowed TIMEOUT), so
  # the environment travels as a launcher in front of the test program, and
  # LABELS (one label) is passed only when given.
  set_target_properties(${T_NAME} PROPERTIES
    CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${ZARN_TEST_ENV};${T_ENV}")
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_LABELS)
    list(APPEND props LABELS ${T_LABELS})
  endif()
  # The thread-sanitizer run builds and runs only these.
  if(T_LABELS MATCHES "^(audio|platform)$")
    set_property(GLOBAL APPEND PROPERTY ZARN_TSAN_TESTS ${T_NAME})
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# zarn_fuzz(NAME name SOURCES ... [LIBS ...])
# A fuzz target defines LLVMFuzzerTestOneInput. It always becomes a CTest
# test that replays a few thousand generated inputs through the same entry;
# in the fuzz build (ZARN_SANITIZE=fuzz, clang) it is also a real libFuzzer
# binary, and the target fuzz_targets builds all of them (./zarn fuzz).
function(zarn_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${F_NAME}_replay PRIVATE ${F_LIBS})
  set_target_properties(${F_NAME}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_test(NAME ${F_NAME} COMMAND ${F_NAME}_replay)
  set_tests_properties(${F_NAME} PROPERTIES ENVIRONMENT "${ZARN_TEST_ENV}" LABELS fuzz TIMEOUT 300)
  if(ZARN_SANITIZE STREQUAL "fuzz")
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    set_property(GLOBAL APPEND PROPERTY ZARN_FUZZ_TARGETS ${F_NAME})
  endif()
endfunction()

# zarn_write_links(FILE)
# Writes one line "from-folder to-folder from-target to-target" for each
# link between targets of the product's folders (platform, audio, engine,
# player) that crosses folders, for the layer test to hold against its table.
function(zarn_write_links file)
  set(dirs ${CMAKE_SOURCE_DIR})
  set(targets "")
  while(dirs)
    list(POP_FRONT dirs dir)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    list(APPEND dirs ${subdirs})
    get_property(made DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    list(APPEND targets ${made})
  endwhile()
  set(lines "")
  foreach(target IN LISTS targets)
    get_target_property(from ${target} SOURCE_DIR)
    file(RELATIVE_PATH from ${CMAKE_SOURCE_DIR} ${from})
    if(NOT from MATCHES "^(platform|audio|engine|player)(/|$)")
      continue()
    endif()
    get_target_property(linked ${target} LINK_LIBRARIES)
    get_target_property(passed ${target} INTERFACE_LINK_LIBRARIES)
    foreach(item IN LISTS linked passed)
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(NOT TARGET "${item}")
        continue()
      endif()
      get_target_property(imported ${item} IMPORTED)
      if(imported)
        continue()
      endif()
      get_target_property(to ${item} SOURCE_DIR)
      file(RELATIVE_PATH to ${CMAKE_SOURCE_DIR} ${to})
      if(NOT to STREQUAL from)
        list(APPEND lines "${from} ${to} ${target} ${item}\n")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES lines)
  string(JOIN "" text ${lines})
  file(WRITE ${file} "${text}")
endfunction()
