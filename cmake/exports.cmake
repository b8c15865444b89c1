# The shared library's exported names and their symbol versions. debian/libqmrt0.symbols
# is the one list of them: each line " NAME@NODE VERSION" names an exported function or
# cell and the version node it belongs to (" NODE@NODE" is the node itself). A program
# linked against the library records the node of every name it uses, so an older library
# that lacks a node is refused when the program starts instead of when it calls the name.
#
# The linker version script made from it gives each name its node and keeps every other
# name local; names of a later node come after the earlier node's in the symbols file,
# and the later node inherits the earlier one. A face built visible (QMRT_EXPORT) but not
# listed stays unexported, and a listed name that no face defines fails the link.
set(QMRT_SYMBOLS_FILE ${CMAKE_SOURCE_DIR}/debian/libqmrt0.symbols)

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QMRT_SYMBOLS_FILE})
file(STRINGS ${QMRT_SYMBOLS_FILE} qmrt_symbol_lines REGEX "^ [^ @]+@[^ ]+ ")
set(qmrt_version_nodes)
foreach(line IN LISTS qmrt_symbol_lines)
  string(REGEX MATCH "^ ([^ @]+)@([^ ]+) " _ "${line}")
  set(name ${CMAKE_MATCH_1})
  set(node ${CMAKE_MATCH_2})
  if(NOT node IN_LIST qmrt_version_nodes)
    list(APPEND qmrt_version_nodes ${node})
    set(qmrt_names_${node})
  endif()
  if(NOT name STREQUAL node)
    string(APPEND qmrt_names_${node} "    ${name};\n")
  endif()
endforeach()
if(NOT qmrt_version_nodes)
  message(FATAL_ERROR "${QMRT_SYMBOLS_FILE} names no exported symbol")
endif()

set(qmrt_version_script "")
set(previous "")
foreach(node IN LISTS qmrt_version_nodes)
  string(APPEND qmrt_version_script "${node} {\n  global:\n${qmrt_names_${node}}")
  if(previous)
    string(APPEND qmrt_version_script "} ${previous};\n")
  else()
    string(APPEND qmrt_version_script "  local:\n    *;\n};\n")
  endif()
  set(previous ${node})
endforeach()
set(QMRT_VERSION_SCRIPT ${CMAKE_BINARY_DIR}/libqmrt.map)
file(CONFIGURE OUTPUT ${QMRT_VERSION_SCRIPT} CONTENT "${qmrt_version_script}" @ONLY)

# qmrt_versioned_exports(TARGET): a shared library of the library's objects exports
# exactly the listed names, each with its node.
function(qmrt_versioned_exports target)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${QMRT_VERSION_SCRIPT}"
                                        "LINKER:--no-undefined-version")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QMRT_VERSION_SCRIPT})
endfunction()
