# glimmerfetch_add_test(NAME source... [NO_WIDGETS] [LIBS lib...] [ENV VAR=value...] [LABELS label...]
#                       [TIMEOUT seconds])
# Every test is a Qt Test program linked against the libraries (NO_WIDGETS: the core and the helpers
# without widgets only, so that it builds without the window), run headless with its own settings,
# cache and data folders so that it never touches the user's settings, thumbnails or trash.
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
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config/${name};XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache/${name};XDG_DATA_HOME=${CMAKE_BINARY_DIR}/test-data/${name};GLIMMERFETCH_PACE=0;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
