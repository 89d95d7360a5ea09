# The engine's subsystems, in building order. Each one is a folder of
# engine/ whose sources all go into rkvstd.
set(KV_SUBSYSTEMS foundation datasources requests transfers net local ftp http ssh root)

function(kv_engine_sources out)
  set(srcs)
  foreach(sub ${KV_SUBSYSTEMS})
    file(GLOB sub_srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/engine/${sub}/*.cpp)
    list(APPEND srcs ${sub_srcs})
  endforeach()
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# Settings every engine build shares, whether it is the shared library or the
# static copy that the fuzz targets link.
function(kv_engine_settings target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/engine)
  target_link_libraries(${target} PUBLIC OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB Threads::Threads
                        PkgConfig::XERCESC)
endfunction()

# A GoogleTest program over the engine library, its tests registered with
# CTest under one label (a test tier: unit, threads, peers), except that the
# tests of suites named *_MT start threads and are labelled "threads" (see
# tests/CMakeLists.txt). A ThreadSanitizer build registers only the "threads"
# tests. Shared test helpers live in tests/support.
function(kv_add_test_program name label)
  file(GLOB support CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/support/*.cpp)
  add_executable(${name} ${ARGN} ${support})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE rkvstd GTest::gtest GTest::gmock GTest::gtest_main)
  if(label STREQUAL "threads")
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS threads)
    return()
  endif()
  if(NOT KV_TSAN)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "-*_MT.*"
                         PROPERTIES LABELS ${label})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_FILTER "*_MT.*"
                       PROPERTIES LABELS threads)
endfunction()
