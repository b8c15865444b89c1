# Man pages, written in scdoc markup and made into roff at build time.
find_program(QMRT_SCDOC scdoc REQUIRED)

# qmrt_add_man_page(SOURCE COMPONENT component [LINKS name...]): SOURCE (scdoc markup,
# with @VARIABLES@ of the build) becomes the roff page NAME.SECTION in the current build
# folder, compressed for installation with the install component. The page turns
# hyphenation off after its title, where the man macros turn it back on, so that no
# name or option is split across lines. Markup scdoc cannot read fails the build. Each name of LINKS
# (the other names a family page documents) is installed as a link to the page, so that
# "man SECTION NAME" opens it.
function(qmrt_add_man_page source)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "LINKS")
  if(NOT arg_COMPONENT)
    message(FATAL_ERROR "qmrt_add_man_page(${source}): no COMPONENT")
  endif()
  get_filename_component(page ${source} NAME_WLE)  # qmrt.1
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${page})
  set(markup ${CMAKE_CURRENT_BINARY_DIR}/${page}.scd)
  set(roff ${CMAKE_CURRENT_BINARY_DIR}/${page})
  configure_file(${source} ${markup} @ONLY)
  add_custom_command(OUTPUT ${roff} ${roff}.gz
    COMMAND sh -c "'${QMRT_SCDOC}' < '${markup}' > '${roff}.raw' && sed '/^\\.TH /a .nh' '${roff}.raw' > '${roff}' && gzip -9n -c '${roff}' > '${roff}.gz'"
    DEPENDS ${markup} VERBATIM COMMENT "Man page ${page}")
  add_custom_target(man_${page} ALL DEPENDS ${roff} ${roff}.gz)
  set(destination ${CMAKE_INSTALL_MANDIR}/man${section})
  install(FILES ${roff}.gz DESTINATION ${destination} COMPONENT ${arg_COMPONENT})
  # Symbolic links beside the page, which Debian prefers to ".so" pages.
  foreach(name IN LISTS arg_LINKS)
    set(link ${CMAKE_CURRENT_BINARY_DIR}/${name}.${section}.gz)
    file(CREATE_LINK ${page}.gz ${link} SYMBOLIC)
    install(FILES ${link} DESTINATION ${destination} COMPONENT ${arg_COMPONENT})
  endforeach()
endfunction()
