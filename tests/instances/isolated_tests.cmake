# Shared by the redirection and instance tests (included by both folders).
include_guard(GLOBAL)

# Private mount and IPC namespaces for tests that touch System V segments or
# /tmp.
add_library(tvx_private_namespaces STATIC ${CMAKE_CURRENT_LIST_DIR}/private_namespaces.cpp)
target_link_libraries(tvx_private_namespaces PUBLIC tvx_test_support)

# tvx_isolated_e2e_test(<name> <source> <jar target>)
# An end-to-end test that runs packed executables inside the private
# namespaces, with the launch tests' helpers (CountOf, ProbeValues).
function(tvx_isolated_e2e_test name source jar_target)
  tvx_e2e_test(${name}
    SOURCES ${source} ${PROJECT_SOURCE_DIR}/tests/launch/launch_test_util.cpp
    LIBS tvx_private_namespaces tvx_packlib
    DEPENDS tvx-launcher tvx-pack ${jar_target})
  if(TARGET ${name})
    target_compile_definitions(${name} PRIVATE TVX_FAKE_LIB_DIR="${CMAKE_BINARY_DIR}/testlibs")
  endif()
endfunction()

# tvx_test_preload(<test> <library> <source> <definition>)
# A small library the test preloads into launchers it starts (LD_PRELOAD) to
# shift the timing of one call; its path reaches the test as <definition>.
function(tvx_test_preload test library source definition)
  if(NOT TARGET ${test})
    return()
  endif()
  add_library(${library} SHARED ${source})
  target_link_libraries(${library} PRIVATE dl)
  add_dependencies(${test} ${library})
  target_compile_definitions(${test} PRIVATE ${definition}="$<TARGET_FILE:${library}>")
endfunction()
