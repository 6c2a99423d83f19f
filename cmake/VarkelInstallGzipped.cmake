# Installs FILE compressed as Debian packages carry documentation: gzip -9n,
# the best compression and no file name or time stamp, so the same source
# gives the same bytes.
function(varkel_install_gzipped file destination name)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9n -c ${file} > ${output}
                     DEPENDS ${file}
                     VERBATIM)
  string(MAKE_C_IDENTIFIER "gzip_${name}" target)
  add_custom_target(${target} ALL DEPENDS ${output})
  install(FILES ${output} DESTINATION ${destination})
endfunction()
