# Project code builds warning-free; contraction stays off so that no compiler
# flag (such as -march=native) can fuse a multiply and an add and change a result.
# Warnings stop the build only where asked (the project's scripts and CI do):
# a compiler newer than the code must not break a packager's build.
option(VARKEL_WERROR "Treat compiler warnings in project code as errors" OFF)

function(varkel_project_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off)
  if(VARKEL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  # Every symbol bound at load, so no first call on the audio thread goes
  # through the dynamic linker, and the relocated data read-only after it.
  if(NOT WIN32)
    target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
  endif()
endfunction()
