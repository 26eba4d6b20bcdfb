# cmake -DTOOL=<program of the build machine's build> -DDEST=<path> -P take_host_tool.cmake
# Copies a program of the build machine's own build into a cross build.
if(NOT EXISTS "${TOOL}")
  message(FATAL_ERROR "${TOOL} is missing: build the build machine's own build first "
                      "(cmake --preset default && cmake --build --preset default)")
endif()
file(COPY_FILE "${TOOL}" "${DEST}" ONLY_IF_DIFFERENT)
