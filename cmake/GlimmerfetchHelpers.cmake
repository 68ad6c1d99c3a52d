# glimmerfetch_add_test(NAME source... [NO_WIDGETS] [LIBS lib...] [ENV VAR=value...] [LABELS label...]
#                       [TIMEOUT seconds])
# Every test is a Qt Test program linked against the libraries (NO_WIDGETS: the core and the helpers
# without widgets only, so that it builds without the window), run headless with its own settings,
# cache and data folders so that it never touches the user's settings, thumbnails or trash.
# The tests' settings, cache and data folders (one of each per test) are kept under
# GLIMMERFETCH_TEST_STATE_DIR. Every setting is written and synced to disk the moment it changes,
# which on a busy disk costs the tests of the windows seconds: unless a folder is given, a private
# one (mode 0700) on the memory file system /dev/shm is made at configure time, else the build
# folder is used. Removing the build leaves that folder: `rm -rf /dev/shm/glimmerfetch-tests-*`.
set(GLIMMERFETCH_TEST_STATE_DIR "" CACHE PATH "Where the tests keep their settings, caches and data")
if(GLIMMERFETCH_TEST_STATE_DIR)
  set(GLIMMERFETCH_TEST_STATE "${GLIMMERFETCH_TEST_STATE_DIR}")
elseif(GLIMMERFETCH_TEST_STATE_MADE AND IS_DIRECTORY "${GLIMMERFETCH_TEST_STATE_MADE}")
  set(GLIMMERFETCH_TEST_STATE "${GLIMMERFETCH_TEST_STATE_MADE}")
else()
  set(GLIMMERFETCH_TEST_STATE "${CMAKE_BINARY_DIR}")
  if(IS_DIRECTORY /dev/shm)
    execute_process(COMMAND mktemp -d /dev/shm/glimmerfetch-tests-XXXXXX RESULT_VARIABLE failed
                    OUTPUT_VARIABLE made OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT failed AND IS_DIRECTORY "${made}")
      set(GLIMMERFETCH_TEST_STATE "${made}")
      set(GLIMMERFETCH_TEST_STATE_MADE "${made}" CACHE INTERNAL "The tests' private folder on /dev/shm")
    endif()
  endif()
endif()

function(glimmerfetch_add_test name)
  cmake_parse_arguments(T "NO_WIDGETS" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  if(T_NO_WIDGETS)
    target_link_libraries(${name} PRIVATE glimmerfetch_core glimmerfetch_test_core Qt6::Test ${T_LIBS})
  else()
    target_link_libraries(${name} PRIVATE glimmerfetch_gui glimmerfetch_test_support Qt6::Test ${T_LIBS})
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${GLIMMERFETCH_TEST_STATE}/test-config/${name};XDG_CACHE_HOME=${GLIMMERFETCH_TEST_STATE}/test-cache/${name};XDG_DATA_HOME=${GLIMMERFETCH_TEST_STATE}/test-data/${name};GLIMMERFETCH_PACE=0;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
