# Project code builds warning-free; contraction stays off so that no compiler
# flag (such as -march=native) can fuse a multiply and an add and change a result.
function(varkel_project_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -ffp-contract=off)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
