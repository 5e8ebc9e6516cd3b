# Each subsystem folder is one library that may include only itself and the
# folders below it. ormelin_layer() checks every source of a folder at
# configure time, so an upward include fails the build instead of relying on
# convention. Outside src/platform/posix no file may include an OS header.

set(ORMELIN_OS_HEADERS
    "sys/" "dirent\\.h" "unistd\\.h" "fcntl\\.h" "pthread\\.h" "netinet/" "arpa/"
    "netdb\\.h" "syslog\\.h" "signal\\.h" "csignal" "unicode/" "windows\\.h"
    "langinfo\\.h" "iconv\\.h" "poll\\.h" "termios\\.h")

function(ormelin_check_includes folder)
  set(allowed ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       "${CMAKE_CURRENT_SOURCE_DIR}/*.h" "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  foreach(src IN LISTS sources)
    file(STRINGS "${src}" lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/")
        set(target "${CMAKE_MATCH_1}")
        if(NOT target STREQUAL folder AND NOT target IN_LIST allowed)
          message(FATAL_ERROR "${src}: '${folder}' may not include '${target}/' (${line})")
        endif()
      endif()
      if(NOT src MATCHES "/platform/posix/")
        foreach(os IN LISTS ORMELIN_OS_HEADERS)
          if(line MATCHES "<${os}")
            message(FATAL_ERROR "${src}: OS headers belong in src/platform/posix (${line})")
          endif()
        endforeach()
      endif()
    endforeach()
  endforeach()
endfunction()

# ormelin_layer(name DEPENDS lower layers...) creates the library target of the
# current folder from its sources and links it to the named lower layers.
function(ormelin_layer name)
  cmake_parse_arguments(L "" "" "DEPENDS;LIBS" ${ARGN})
  ormelin_check_includes(${name} ${L_DEPENDS})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${L_DEPENDS} ${L_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${L_DEPENDS} ${L_LIBS})
  endif()
endfunction()
