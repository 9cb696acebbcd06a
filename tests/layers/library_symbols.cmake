# Reads the symbol table of a static library with nm, for the checks of the built core.
#
# read_library_symbols(<prefix> <library>) sets, for each symbol of every object in the library:
#   <prefix>_rows        one entry per symbol: "<object>|<name>|<class>|<section>", with nm's
#                        one-letter class (U undefined, T text, D data, b local bss, ...) and the
#                        section it lies in (*UND* when undefined)
# The names stay mangled: a demangled name may hold the separator.
function(read_library_symbols prefix library)
  if(NOT EXISTS "${library}")
    message(FATAL_ERROR "No library at ${library}: build the core first")
  endif()
  execute_process(COMMAND "${NM}" --format=sysv "${library}"
                  OUTPUT_VARIABLE text ERROR_VARIABLE error RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${library}: ${error}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${text}")
  set(object "")
  set(rows "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^Symbols from .*\\[(.*)\\]:$")
      set(object "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^([^| ]+) *\\|[^|]*\\| *([^| ]) *\\|[^|]*\\|[^|]*\\|[^|]*\\|(.*)$")
      list(APPEND rows "${object}|${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}")
    endif()
  endforeach()
  if(NOT rows)
    message(FATAL_ERROR "nm listed no symbols in ${library}")
  endif()
  set(${prefix}_rows "${rows}" PARENT_SCOPE)
endfunction()

# The demangled form of each mangled name, when c++filt was found; otherwise the names as given.
function(demangle out)
  set(names ${ARGN})
  if(CXXFILT AND names)
    execute_process(COMMAND "${CXXFILT}" ${names} OUTPUT_VARIABLE text RESULT_VARIABLE result)
    if(result EQUAL 0)
      string(REGEX MATCHALL "[^\n]+" names "${text}")
    endif()
  endif()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()
