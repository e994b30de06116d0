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
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "${ZARN_TEST_ENV};${T_ENV}"
      LABELS "${T_LABELS}"
      TIMEOUT ${T_TIMEOUT})
endfunction()
