cmake_minimum_required(VERSION 3.25)
# The layers point down in the built libraries too: each layer's library links with the layers
# below it alone. A symbol a library leaves undefined may be defined by itself, by a layer below
# it or by the system's libraries, never only by the layer beside it or one above it (firmware
# and settings do not need each other).
# Run as: cmake -DNM=<nm> -DSERIAL_LIBRARY=<.a> -DFIRMWARE_LIBRARY=<.a> -DSETTINGS_LIBRARY=<.a>
#               -DWORKFLOW_LIBRARY=<.a> [-DCXXFILT=<c++filt>] -P check_layer_links.cmake
include(${CMAKE_CURRENT_LIST_DIR}/library_symbols.cmake)

set(layers serial firmware settings workflow)
set(below_serial "")
set(below_firmware "serial")
set(below_settings "serial")
set(below_workflow "serial;firmware;settings")

# Per layer, as a set of variables: what its library defines, and what it leaves undefined.
foreach(layer IN LISTS layers)
  string(TOUPPER "${layer}_LIBRARY" library)
  read_library_symbols(${layer} "${${library}}")
  set(undefined_${layer} "")
  foreach(row IN LISTS ${layer}_rows)
    string(REPLACE "|" ";" fields "${row}")
    list(GET fields 0 object)
    list(GET fields 1 name)
    list(GET fields 2 class)
    if(class STREQUAL "U")
      list(APPEND undefined_${layer} "${object}|${name}")
    elseif(class MATCHES "^[A-Zuv]$")
      # Global definitions only: a local symbol never resolves another object's reference.
      set("defines_${layer}_${name}" TRUE)
    endif()
  endforeach()
endforeach()

set(violations "")
foreach(layer IN LISTS layers)
  foreach(entry IN LISTS undefined_${layer})
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 object)
    list(GET fields 1 name)
    set(resolved FALSE)
    foreach(lower IN LISTS below_${layer} layer)
      if(DEFINED "defines_${lower}_${name}")
        set(resolved TRUE)
      endif()
    endforeach()
    if(resolved)
      continue()
    endif()
    foreach(other IN LISTS layers)
      if(DEFINED "defines_${other}_${name}")
        demangle(shown "${name}")
        list(APPEND violations "${layer} (${object}) needs ${shown}, defined in ${other}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "A layer's library needs a layer above it or beside it:\n  ${text}")
endif()
message(STATUS "Each layer's library links with the layers below it alone")
