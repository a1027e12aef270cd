# The library's exports from their one list, src/exports.txt: writes into the
# build folder
#   TovixAPI.def          the DLL's exports (natives with their stdcall names)
#   TovixAPI.map          the version script of libTovixAPI.so
#   exports-linux.txt     the names libTovixAPI.so must export, and no others
#   exports-windows.txt   the names TovixAPI.dll must export, and no others
# and sets TOVIX_EXPORTS_DIR to that folder. Configuring again follows any
# change of the list.
set(TOVIX_EXPORTS_LIST ${CMAKE_SOURCE_DIR}/src/exports.txt)
set(TOVIX_EXPORTS_DIR ${CMAKE_BINARY_DIR}/exports)
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${TOVIX_EXPORTS_LIST})

set(native_prefix Java_org_quencommunity_tovix_TovixAPI_)
set(def "; Written by the build from src/exports.txt.\nLIBRARY TovixAPI.dll\nEXPORTS\n")
set(map "/* Written by the build from src/exports.txt. */\n{\n  global:\n")
set(linux "")
set(windows "")
file(STRINGS ${TOVIX_EXPORTS_LIST} lines)
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  elseif(line MATCHES "^native ([A-Za-z]+) ([0-9]+)$")
    # mingw names the stdcall function without the leading underscore the
    # virtual machine looks for; the .def binds the one to the other.
    set(name ${native_prefix}${CMAKE_MATCH_1})
    set(decorated ${name}@${CMAKE_MATCH_2})
    string(APPEND def "    _${decorated} = ${decorated}\n")
    string(APPEND windows "_${decorated}\n")
  elseif(line MATCHES "^(function|symbol) ([A-Za-z0-9_]+)$")
    set(name ${CMAKE_MATCH_2})
    string(APPEND def "    ${name}\n")
    string(APPEND windows "${name}\n")
  elseif(line MATCHES "^data ([A-Za-z0-9_]+)$")
    set(name ${CMAKE_MATCH_1})
    string(APPEND def "    ${name} DATA\n")
    string(APPEND windows "${name}\n")
  else()
    message(FATAL_ERROR "src/exports.txt: cannot read the line \"${line}\"")
  endif()
  string(APPEND map "    ${name};\n")
  string(APPEND linux "${name}\n")
endforeach()
string(APPEND map "  local:\n    *;\n};\n")

# Written only when changed, so that an unchanged list relinks nothing.
foreach(pair "TovixAPI.def;def" "TovixAPI.map;map" "exports-linux.txt;linux"
             "exports-windows.txt;windows")
  list(GET pair 0 file)
  list(GET pair 1 var)
  file(CONFIGURE OUTPUT ${TOVIX_EXPORTS_DIR}/${file} CONTENT "${${var}}" @ONLY)
endforeach()
