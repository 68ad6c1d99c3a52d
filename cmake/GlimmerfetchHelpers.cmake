# glimmerfetch_add_test(NAME source... [LIBS lib...] [ENV VAR=value...] [LABELS label...] [TIMEOUT seconds])
# Every test is a Qt Test program linked against the two libraries, run headless with its own
# settings folder so that it never touches the user's settings.
function(glimmerfetch_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "LIBS;ENV;LABELS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE glimmerfetch_gui glimmerfetch_test_support Qt6::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/test-config/${name};XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache/${name};GLIMMERFETCH_PACE=0;${T_ENV}")
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
