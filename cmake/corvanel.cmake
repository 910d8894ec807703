# Shared build settings: warnings for our own code (as errors with CORVANEL_WERROR), optional
# sanitizers.

if(CORVANEL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(CORVANEL_TSAN)
  if(CORVANEL_SANITIZE)
    message(FATAL_ERROR "CORVANEL_TSAN and CORVANEL_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Applied to every target of ours; third-party headers come in as system includes. Warnings are
# errors only with CORVANEL_WERROR (the scripts' trees): a user's build with another compiler
# version must not stop at a warning that version adds.
function(corvanel_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4)
    if(CORVANEL_WERROR)
      target_compile_options(${target} PRIVATE /WX)
    endif()
    return()
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual)
  if(CORVANEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # GCC 12 warns falsely about overlapping copies inside std::string's own code once it is
  # inlined in an optimized build ("literal" + std::string&&, GCC bug 105329; gone in GCC 13):
  # Release's -O3, Linux and mingw-w64 alike. Only there: clang-tidy reads build/check's
  # commands (Debug) and knows no such option.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Wno-restrict>)
  endif()
endfunction()

# A GoogleTest executable registered with CTest. Usage:
#   corvanel_gtest(NAME name SOURCES a.cpp b.cpp LIBS lib... [LABELS l...])
# In Debug builds (the sanitized suite's) the GoogleTest headers are precompiled once for all of
# them: parsing them is about a quarter of each test file's compile there. Not in optimized
# builds, where GCC 12 then warns falsely (-Warray-bounds) from inlined standard-library code.
function(corvanel_gtest)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  corvanel_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(CMAKE_BUILD_TYPE STREQUAL "Debug" AND NOT TARGET corvanel_gtest_pch)
    file(WRITE "${PROJECT_BINARY_DIR}/corvanel_gtest_pch.cpp" "")
    add_library(corvanel_gtest_pch STATIC "${PROJECT_BINARY_DIR}/corvanel_gtest_pch.cpp")
    corvanel_warnings(corvanel_gtest_pch)
    target_link_libraries(corvanel_gtest_pch PRIVATE GTest::gtest GTest::gmock)
    target_precompile_headers(corvanel_gtest_pch PRIVATE <gtest/gtest.h> <gmock/gmock.h>
                              <string> <vector>)
  endif()
  if(TARGET corvanel_gtest_pch)
    target_precompile_headers(${T_NAME} REUSE_FROM corvanel_gtest_pch)
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  # Labels go on in a script of their own that runs after the discovered tests are added:
  # gtest_discover_tests passes its PROPERTIES on as a flat list, which keeps only the first of
  # several labels.
  # The label "threads" marks the tests whose threads meet (worker, transfer, simulator lines,
  # the programs they start): scripts/test-tsan builds them through one target and runs them.
  if("threads" IN_LIST T_LABELS)
    if(NOT TARGET corvanel_threaded_tests)
      add_custom_target(corvanel_threaded_tests)
    endif()
    add_dependencies(corvanel_threaded_tests ${T_NAME})
  endif()
  if(T_LABELS)
    set(labels_script "${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake")
    file(WRITE "${labels_script}"
         "if(${T_NAME}_TESTS)\n"
         "  set_tests_properties(\${${T_NAME}_TESTS} PROPERTIES LABELS \"${T_LABELS}\")\n"
         "endif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_script}")
  endif()
endfunction()
