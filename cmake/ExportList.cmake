# The module exports exactly the names of the top-level .def file. mingw-w64
# reads the .def directly (with --kill-at, so the __stdcall names stay
# undecorated); on Linux a version script is generated from the same list and
# everything else is hidden.
function(ep_apply_export_list target def_file)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
  else()
    file(STRINGS ${def_file} lines)
    set(names "")
    set(in_exports FALSE)
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      if(line STREQUAL "EXPORTS")
        set(in_exports TRUE)
      elseif(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
        string(APPEND names "    ${line};\n")
      endif()
    endforeach()
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(GENERATE OUTPUT ${script} CONTENT "{\n  global:\n${names}  local:\n    *;\n};\n")
    set_target_properties(${target} PROPERTIES C_VISIBILITY_PRESET hidden
      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON LINK_DEPENDS ${script})
    target_link_options(${target} PRIVATE -Wl,--version-script=${script} -Wl,--no-undefined)
  endif()
endfunction()
