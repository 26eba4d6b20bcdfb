# Launcher code is compiled so that one image can run as a program and be
# loaded a second time as the helper classes' native library: position
# independent, everything hidden unless marked TVX_EXPORT (so each copy binds
# its own statics), and free of the C++ runtime library (no exceptions, no
# RTTI; base/cxxrt.cpp supplies the few runtime hooks the compiler needs).
function(tvx_launcher_objects name)
  add_library(${name} OBJECT ${ARGN})
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${TVX_JNI_INCLUDE_DIRS})
  target_link_libraries(${name} PUBLIC tvx_warnings)
endfunction()
