# Fails when an #include of lib/ or tools/ runs against the layer order, or
# when a file outside lib/platform includes an operating-system header.
#   cmake -DSOURCE_DIR=<repo> -P tests/layering.cmake
#
# Each folder may include itself and the folders listed after it.
cmake_minimum_required(VERSION 3.25)

set(uses_platform    platform)
set(uses_msg         msg platform)
set(uses_text        text msg platform)
set(uses_io          io text msg platform)
set(uses_net         net text msg platform)
set(uses_remote      remote net text msg platform)
set(uses_mat         mat io text msg platform)
set(uses_logtable    logtable text msg platform)
set(uses_tracepack   tracepack logtable mat io text msg platform remote)
set(uses_traceunpack traceunpack logtable mat io text msg platform remote)

# Headers that belong to one operating system: only lib/platform has them.
set(system_headers "^(unistd|fcntl|dlfcn|signal|netdb|dirent|poll|termios|pthread|windows|winsock2|ws2tcpip|io)\\.h$|^(sys|netinet|arpa|net)/")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "layering.cmake: pass -DSOURCE_DIR=<the source tree>")
endif()
file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
  ${SOURCE_DIR}/lib/*.h ${SOURCE_DIR}/lib/*.cpp ${SOURCE_DIR}/tools/*.h ${SOURCE_DIR}/tools/*.cpp)
set(faults "")
foreach(file IN LISTS files)
  string(REGEX MATCH "^(lib|tools)/([^/]+)/" _ ${file})
  set(layer ${CMAKE_MATCH_2})
  if(NOT DEFINED uses_${layer})
    string(APPEND faults "\n  ${file}: the folder ${layer} has no place in the layer order")
    continue()
  endif()
  file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(line MATCHES "#[ \t]*include[ \t]*\"([^/\"]+)/[^\"]+\"")
      set(used ${CMAKE_MATCH_1})
      if(NOT used IN_LIST uses_${layer})
        string(APPEND faults "\n  ${file}: ${layer} may not use ${used}: ${line}")
      endif()
    elseif(line MATCHES "#[ \t]*include[ \t]*<([^>]+)>" AND NOT layer STREQUAL "platform")
      if(CMAKE_MATCH_1 MATCHES "${system_headers}")
        string(APPEND faults "\n  ${file}: an operating-system header outside lib/platform: ${line}")
      endif()
    endif()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes against the layer order:${faults}")
endif()
list(LENGTH files count)
message(STATUS "layering: ${count} files follow the layer order")
