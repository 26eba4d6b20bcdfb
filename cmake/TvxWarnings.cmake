# Warnings and sanitizer flags shared by every target through tvx_warnings.
add_library(tvx_warnings INTERFACE)
target_compile_options(tvx_warnings INTERFACE -Wall -Wextra)
if(TVX_WERROR)
  target_compile_options(tvx_warnings INTERFACE -Werror)
endif()
if(TVX_SANITIZE)
  target_compile_options(tvx_warnings INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
    # Launcher code has no RTTI, which the vptr check needs.
    -fno-sanitize=vptr)
  target_link_options(tvx_warnings INTERFACE -fsanitize=address,undefined)
endif()
if(TVX_FUZZ)
  target_compile_options(tvx_warnings INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all
    -fno-sanitize=vptr)
  target_link_options(tvx_warnings INTERFACE -fsanitize=address,undefined)
endif()
