cmake_minimum_required(VERSION 3.25)
# The core keeps no state of its own process-wide: an adapter's state lives in its session. Every
# symbol the four core libraries place in writable data (.data, .bss, their thread-local kinds and
# common symbols; function-local statics included) must be on the list below, with its reason.
# Read-only data (.rodata, .data.rel.ro: constant tables, virtual tables) is not judged.
# Run as: cmake -DNM=<nm> -DSERIAL_LIBRARY=<.a> -DFIRMWARE_LIBRARY=<.a> -DSETTINGS_LIBRARY=<.a>
#               -DWORKFLOW_LIBRARY=<.a> [-DCXXFILT=<c++filt>] -P check_writable_data.cmake
include(${CMAKE_CURRENT_LIST_DIR}/library_symbols.cmake)

# allow(<layer or *> <mangled name, as a regular expression> <why>)
set(allowed_layers "")
set(allowed_names "")
macro(allow layer name reason)
  list(APPEND allowed_layers "${layer}")
  list(APPEND allowed_names "${name}")
endmacro()

# Ours, truly one per process.
allow(serial "^_ZN9tornelvox12_GLOBAL__N_121exclusive_descriptorsE$"
  "the terminals' exclusive-mode registry (posix_port.cpp): the exit handlers that give a
   terminal its exclusive mode back must reach every session's open port")
allow(serial "^_ZZN9tornelvox12_GLOBAL__N_127GiveBackExclusiveModeAtExitEvE10registered$"
  "that registry's exit handlers, registered once per process")

# The standard library's, made in our objects by its headers.
allow(* "^_ZZNSt8__detail18__waiter_pool_base6_S_forEPKvE3__w$"
  "libstdc++'s pool of waiters behind std::atomic::wait and notify (the run flags), shared by
   every atomic of the process")

# The compiler's and the sanitizers'.
allow(* "^_ZGV"
  "guard variables: the once-only flags of statics initialized at run time (the registry's
   registration; a read-only function-local static made at run time has one too); the static
   itself is judged by its own name")
allow(* "^DW\\.ref\\."
  "the exception tables' pointers to the personality routine and to the types caught, set by
   the loader when the program starts")
allow(* "^__odr_asan\\."
  "AddressSanitizer's one-definition-rule markers, one byte per global it watches")

set(layers serial firmware settings workflow)
set(found "")
foreach(layer IN LISTS layers)
  string(TOUPPER "${layer}_LIBRARY" library)
  read_library_symbols(${layer} "${${library}}")
  foreach(row IN LISTS ${layer}_rows)
    string(REPLACE "|" ";" fields "${row}")
    list(LENGTH fields count)
    if(count LESS 4)
      continue()
    endif()
    list(GET fields 1 name)
    list(GET fields 3 section)
    if(NOT section MATCHES "^\\.(data|bss|tdata|tbss|sdata|sbss|ldata|lbss)($|\\.)|^\\*COM\\*$"
       OR section MATCHES "^\\.data\\.rel\\.ro($|\\.)")
      continue()
    endif()
    set(allowed FALSE)
    foreach(layer_pattern name_pattern IN ZIP_LISTS allowed_layers allowed_names)
      if((layer_pattern STREQUAL "*" OR layer_pattern STREQUAL layer) AND
         name MATCHES "${name_pattern}")
        set(allowed TRUE)
        break()
      endif()
    endforeach()
    if(NOT allowed)
      list(GET fields 0 object)
      demangle(shown "${name}")
      list(APPEND found "${layer} (${object}, ${section}): ${shown}")
    endif()
  endforeach()
endforeach()

if(found)
  list(REMOVE_DUPLICATES found)
  list(JOIN found "\n  " text)
  message(FATAL_ERROR "Writable data in the core that no session owns (make it a member of the "
    "session, or const; or, when it is truly one per process, add it to the list in "
    "check_writable_data.cmake with its reason):\n  ${text}")
endif()
message(STATUS "The core holds no writable data beyond the allowed")
