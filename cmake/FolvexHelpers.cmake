# folvex_library(<target> [DEPS <targets>...])
# Builds every .cpp of the current source folder (except main.cpp) into one static library.
function(folvex_library target)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER _src EXCLUDE REGEX "/main\\.cpp$")
  set(_cpp ${_src})
  list(FILTER _cpp INCLUDE REGEX "\\.cpp$")
  if(_cpp)
    add_library(${target} STATIC ${_src})
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    folvex_warnings(${target})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${target} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

function(folvex_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# folvex_test(<name> SOURCES <files> DEPS <targets> [LABELS <labels>] [ENV <VAR=value>...] [TIMEOUT <s>])
# One GoogleTest program, registered with ctest as one test per folder.
# Each test program gets folders of its own, emptied before every ctest run, so programs running in parallel never
# share a hive, a work folder or a runtime folder, and none touches the user's own: FOLVEX_REGISTRY_DIR, TMPDIR,
# XDG_RUNTIME_DIR, XDG_CONFIG_HOME and XDG_DATA_HOME point into <build>/test-env/<name>/, and CUPS_SERVER to a
# socket no server listens on, so no test reaches the machine's own printers. ENV entries come after these and so
# override them.
function(folvex_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # gtest_main supplies main() only to programs that do not define their own.
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gtest GTest::gmock Qt6::Test)
  target_compile_definitions(${name} PRIVATE FOLVEX_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
                                             FOLVEX_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared"
                                             FOLVEX_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  folvex_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set(_env ${CMAKE_BINARY_DIR}/test-env/${name})
  set_property(GLOBAL APPEND PROPERTY FOLVEX_TEST_ENV_DIRS ${_env})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} FIXTURES_REQUIRED folvex_test_env
                       ENVIRONMENT "QT_QPA_PLATFORM=offscreen;FOLVEX_REGISTRY_DIR=${_env}/registry;TMPDIR=${_env}/tmp;XDG_RUNTIME_DIR=${_env}/run;XDG_CONFIG_HOME=${_env}/config;XDG_DATA_HOME=${_env}/data;CUPS_SERVER=${_env}/no-cupsd.sock;${ARG_ENV}")
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# Registers the ctest step that empties and recreates every test program's folders; call once after all tests.
function(folvex_test_env_setup)
  get_property(_dirs GLOBAL PROPERTY FOLVEX_TEST_ENV_DIRS)
  if(NOT _dirs)
    return()
  endif()
  string(REPLACE ";" "|" _list "${_dirs}")
  add_test(NAME prepare_test_folders
           COMMAND ${CMAKE_COMMAND} "-DDIRS=${_list}" -P ${CMAKE_SOURCE_DIR}/cmake/FreshTestFolders.cmake)
  set_tests_properties(prepare_test_folders PROPERTIES FIXTURES_SETUP folvex_test_env)
endfunction()
