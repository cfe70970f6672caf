# Helpers shared by the module CMakeLists files.

# corvane_test(NAME name SOURCES ... [NATIVE_ONLY] [WIN32_ONLY] [OPSERVER] [LIBS ...])
# Native tests run directly; win32 tests run under Wine through
# CMAKE_CROSSCOMPILING_EMULATOR. OPSERVER: the win32 test runs beside a
# loopback operator server started natively for it (tests/wine/with-opserver);
# native tests start their own (tests/support/op_server.h).
function(corvane_test)
  cmake_parse_arguments(T "NATIVE_ONLY;WIN32_ONLY;OPSERVER" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT CORVANE_TESTS)
    return()
  endif()
  if(T_NATIVE_ONLY AND CORVANE_WIN32)
    return()
  endif()
  if(T_WIN32_ONLY AND NOT CORVANE_WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE corvane_core corvane_testsupport ${T_LIBS})
  if(CORVANE_WIN32)
    target_link_libraries(${T_NAME} PRIVATE gtest gtest_main ${CORVANE_STATIC_LINK})
    if(T_OPSERVER)
      add_dependencies(${T_NAME} opserver_host)
      add_test(NAME ${T_NAME} COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/with-opserver ${CMAKE_BINARY_DIR}/host/opserver/opserver
               ${CMAKE_SOURCE_DIR}/tests/wine/wine-run $<TARGET_FILE:${T_NAME}>)
    else()
      add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    set(labels wine ${T_LABELS})
  else()
    target_link_libraries(${T_NAME} PRIVATE GTest::gtest GTest::gtest_main)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set(labels native ${T_LABELS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${labels}"
    ENVIRONMENT "CORVANE_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data;CORVANE_BUILD_DIR=${CMAKE_BINARY_DIR}")
  if(CORVANE_WIN32)
    corvane_wine_env(${T_NAME})
  endif()
endfunction()

# corvane_fuzz(NAME name SOURCES ...) -- libFuzzer target, clang only.
function(corvane_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES" ${ARGN})
  if(NOT CORVANE_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE corvane_core)
endfunction()

# corvane_delay_imports(OUT lib...) -- delay-import libraries for the named
# system DLLs (win32 only): their functions are bound on first call, through
# the hook that loads each DLL from the system folder (platform/win32/
# startup_defence.cpp), never at start-up from the program's own folder.
function(corvane_delay_imports OUT)
  set(libs)
  foreach(lib IN LISTS ARGN)
    find_library(CORVANE_IMPLIB_${lib} NAMES ${lib} REQUIRED)
    set(out ${CMAKE_BINARY_DIR}/delayimp/lib${lib}_delay.a)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/delayimp
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/delaylib.py ${CMAKE_NM} ${CMAKE_DLLTOOL}
              ${CORVANE_IMPLIB_${lib}} ${lib}.dll ${out}
      DEPENDS ${CMAKE_SOURCE_DIR}/cmake/delaylib.py
      COMMENT "Delay-import library for ${lib}.dll")
    add_custom_target(delayimp_${lib} DEPENDS ${out})
    add_library(delay_${lib} STATIC IMPORTED GLOBAL)
    set_target_properties(delay_${lib} PROPERTIES IMPORTED_LOCATION ${out})
    add_dependencies(delay_${lib} delayimp_${lib})
    list(APPEND libs delay_${lib})
  endforeach()
  set(${OUT} ${libs} PARENT_SCOPE)
endfunction()

# corvane_wine_env(TEST...) -- the tests run under the Wine of this build's
# architecture (CORVANE_WINE_ARCH, set by the toolchain file; read by
# tests/wine/wine-env). Call it in the folder that registers the tests.
function(corvane_wine_env)
  foreach(t IN LISTS ARGN)
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "CORVANE_WINE_ARCH=${CORVANE_WINE_ARCH}")
  endforeach()
endfunction()

# corvane_include_root(target PUBLIC|PRIVATE folder) -- gives the target an
# include root: a folder of the build tree that holds one link, to the given
# source folder (e.g. "download/engine"), so that `#include "<folder>/..."`
# finds that folder's headers and nothing else of the tree.
function(corvane_include_root target scope folder)
  string(MAKE_C_IDENTIFIER ${folder} id)
  set(root ${CMAKE_BINARY_DIR}/include_roots/${id})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} ${scope} ${root})
endfunction()

# corvane_layer(target folder) -- the static library of one layer of the
# program, with the sources its folder's CMakeLists.txt adds, and the
# folder's include root. The roots of the layers it links come with them
# (PUBLIC or PRIVATE as the link is), so `#include "shell/..."` in common/
# finds no such file: the compiler keeps the arrows pointing down.
function(corvane_layer target folder)
  add_library(${target} STATIC)
  corvane_include_root(${target} PUBLIC ${folder})
endfunction()
