cmake_minimum_required(VERSION 3.25)
# Layers point down only: the serial link includes nothing above it; firmware and settings
# include only the serial link and themselves (neither needs the other); the workflows include
# those and themselves; the command-line program includes the workflows and what lies under them,
# never the window; nothing outside the window folder and its tests includes Qt.
# Run as: cmake -DSOURCE_DIR=<top> -P check_layers.cmake
set(allowed_serial "serial")
set(allowed_firmware "serial;firmware")
set(allowed_settings "serial;settings")
set(allowed_workflow "serial;firmware;settings;workflow")
set(allowed_cli "serial;firmware;settings;workflow;cli")

set(violations "")
foreach(layer serial firmware settings workflow cli)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(file ${files})
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([^/\"]+)/")
        set(target "${CMAKE_MATCH_1}")
        if(NOT target IN_LIST allowed_${layer})
          list(APPEND violations "${file}: ${line}")
        endif()
      endif()
      if(line MATCHES "#[ \t]*include[ \t]*<Q")
        list(APPEND violations "${file}: ${line} (only the window uses Qt)")
      endif()
    endforeach()
  endforeach()
endforeach()

file(GLOB_RECURSE tool_files "${SOURCE_DIR}/emulator/*" "${SOURCE_DIR}/tools/*")
foreach(file ${tool_files})
  file(STRINGS "${file}" includes REGEX "#[ \t]*include[ \t]*(<Q|\"ui/)")
  foreach(line ${includes})
    list(APPEND violations "${file}: ${line} (only the window uses Qt and ui/)")
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "An include points up a layer:\n  ${text}")
endif()
message(STATUS "Layers point down only")
