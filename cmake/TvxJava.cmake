# The JDK: javac/jar to build the helper classes and test applications, and
# jni.h for the launcher (the runtime library itself is loaded at run time).
find_package(Java 11 REQUIRED COMPONENTS Development)
get_filename_component(_tvx_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(_tvx_jdk_bin "${_tvx_javac_real}" DIRECTORY)
get_filename_component(TVX_JDK_HOME "${_tvx_jdk_bin}" DIRECTORY CACHE)
find_path(TVX_JNI_INCLUDE jni.h HINTS "${TVX_JDK_HOME}/include" NO_DEFAULT_PATH REQUIRED)
set(TVX_JNI_INCLUDE_DIRS "${TVX_JNI_INCLUDE}" "${TVX_JNI_INCLUDE}/linux")

# tvx_add_jar(<target> OUTPUT <jar> SOURCES <.java...> [CLASSPATH <jar>] [MANIFEST_MAIN <class>]
#             [DEPENDS <targets>])
# Compiles the sources with javac --release 8 and packs the classes into <jar>.
function(tvx_add_jar target)
  cmake_parse_arguments(J "" "OUTPUT;CLASSPATH;MANIFEST_MAIN" "SOURCES;DEPENDS" ${ARGN})
  set(classes "${CMAKE_CURRENT_BINARY_DIR}/${target}.classes")
  set(cp_args)
  if(J_CLASSPATH)
    set(cp_args -classpath "${J_CLASSPATH}")
  endif()
  set(jar_flags cf)
  set(manifest_args)
  if(J_MANIFEST_MAIN)
    set(jar_flags cfe)
    set(manifest_args "${J_MANIFEST_MAIN}")
  endif()
  get_filename_component(out_dir "${J_OUTPUT}" DIRECTORY)
  add_custom_command(
    OUTPUT "${J_OUTPUT}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${out_dir}"
    COMMAND ${CMAKE_COMMAND} -E rm -rf "${classes}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${classes}"
    COMMAND ${Java_JAVAC_EXECUTABLE} --release 8 -nowarn -Xlint:-options -encoding UTF-8
            ${cp_args} -d "${classes}" ${J_SOURCES}
    COMMAND ${Java_JAR_EXECUTABLE} ${jar_flags} "${J_OUTPUT}" ${manifest_args} -C "${classes}" .
    DEPENDS ${J_SOURCES} ${J_CLASSPATH} ${J_DEPENDS}
    WORKING_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
    COMMENT "Building ${J_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${J_OUTPUT}")
endfunction()
