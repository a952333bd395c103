# Tests of the Windows build run under Wine (scripts/windows/wine-run.sh is ctest's emulator),
# all in one throw-away prefix that a fixture makes fresh at the start of each ctest run and
# removes at its end.
set(TIKTAAL_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(TIKTAAL_WINE_SCRIPTS ${PROJECT_SOURCE_DIR}/scripts/windows)
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${TIKTAAL_WINE_SCRIPTS}/wine-run.sh)

add_test(NAME wine.PrefixFresh
         COMMAND bash ${TIKTAAL_WINE_SCRIPTS}/wine-prefix.sh fresh ${TIKTAAL_WINEPREFIX})
set_tests_properties(wine.PrefixFresh PROPERTIES FIXTURES_SETUP wine_prefix)
add_test(NAME wine.PrefixRemove
         COMMAND bash ${TIKTAAL_WINE_SCRIPTS}/wine-prefix.sh remove ${TIKTAAL_WINEPREFIX})
set_tests_properties(wine.PrefixRemove PROPERTIES FIXTURES_CLEANUP wine_prefix)

# Marks a test as one that runs under Wine in the build's prefix.
function(tiktaal_wine_test name)
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED wine_prefix)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT_MODIFICATION
               "TIKTAAL_WINEPREFIX=set:${TIKTAAL_WINEPREFIX}"
               "TIKTAAL_WINE_SCRIPTS=set:${TIKTAAL_WINE_SCRIPTS}")
endfunction()

# Under Wine a GoogleTest program is one ctest test: listing its tests would mean starting
# it under Wine once more at build or test time, which costs more than running it whole.
# Takes gtest_discover_tests' arguments (TEST_PREFIX, EXTRA_ARGS, PROPERTIES; the rest only
# matter to discovery).
function(gtest_discover_tests target)
  cmake_parse_arguments(arg "NO_PRETTY_TYPES;NO_PRETTY_VALUES"
    "TEST_PREFIX;TEST_SUFFIX;WORKING_DIRECTORY;TEST_LIST;DISCOVERY_TIMEOUT;XML_OUTPUT_DIR;DISCOVERY_MODE"
    "EXTRA_ARGS;PROPERTIES;TEST_FILTER" ${ARGN})
  set(name ${arg_TEST_PREFIX}${target})
  add_test(NAME ${name} COMMAND ${target} ${arg_EXTRA_ARGS})
  if(arg_PROPERTIES)
    set_tests_properties(${name} PROPERTIES ${arg_PROPERTIES})
  endif()
  tiktaal_wine_test(${name})
endfunction()
