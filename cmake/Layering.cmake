# Each subsystem folder is one library that may include only itself and the
# folders below it. ormelin_layer() checks every file of a folder at
# configure time against an allow-list, so a wrong include fails the build
# instead of relying on convention:
# - an include in quotes names a file of the library's own folder or of a
#   lower layer's folder, from the source root ("platform/Text.h") or from
#   the including file's folder; "../" and absolute paths are refused, and
#   the operating-system folders of the platform (src/platform/posix,
#   src/platform/win32) belong to the platform alone;
# - an include in angle brackets names a standard C++ header or a dependency
#   the folder is allowed; only the operating-system folders may include
#   anything else (the system's headers, ICU).

# The C++20 standard library, the C library in its <cname> form. <csignal>
# is left out: signals belong to the platform's operating-system folders.
set(ORMELIN_STANDARD_HEADERS
    algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex
    concepts condition_variable coroutine deque exception execution filesystem format
    forward_list fstream functional future initializer_list iomanip ios iosfwd iostream
    istream iterator latch limits list locale map memory memory_resource mutex new numbers
    numeric optional ostream queue random ranges ratio regex scoped_allocator semaphore set
    shared_mutex source_location span sstream stack stdexcept stop_token streambuf string
    string_view syncstream system_error thread tuple type_traits typeindex typeinfo
    unordered_map unordered_set utility valarray variant vector version
    cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp cstdarg
    cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype)

# Dependency headers, each "<header>=<folders that may include it>": PCRE2
# only where the regular expressions live, OpenSSL only in the network layer
# (and there in net/TlsTransport alone).
set(ORMELIN_DEPENDENCY_HEADERS "pcre2.h=logger")
foreach(header bio bn err evp pem ssl x509 x509v3)
  list(APPEND ORMELIN_DEPENDENCY_HEADERS "openssl/${header}.h=net")
endforeach()

# ormelin_include_problems(<variable> <source root> <file> <layer> <lower layers...>)
# Sets <variable> to a list with one line for each include of <file>, a
# file of the folder <layer>, that the allow-list refuses.
function(ormelin_include_problems variable root file layer)
  set(layers ${layer} ${ARGN})
  file(RELATIVE_PATH relative "${root}" "${file}")
  get_filename_component(folder "${file}" DIRECTORY)
  set(os_folder FALSE)
  if(relative MATCHES "^platform/(posix|win32)/")
    set(os_folder TRUE)
  endif()
  set(problems "")
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line MATCHES "^#[ \t]*include[ \t]*\"([^\"]*)\"")
      set(name "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "/.*" "" top "${name}")
      if(name MATCHES "^/" OR name MATCHES "(^|/)\\.\\.?(/|$)")
        list(APPEND problems "${relative}: relative paths may not leave the folder (${line})")
      elseif(EXISTS "${folder}/${name}" AND NOT IS_DIRECTORY "${folder}/${name}")
        # Found beside the including file: its own folder or one below it.
      elseif(name MATCHES "/" AND top IN_LIST layers AND EXISTS "${root}/${name}"
             AND NOT IS_DIRECTORY "${root}/${name}")
        if(name MATCHES "^platform/(posix|win32)/" AND NOT layer STREQUAL "platform")
          list(APPEND problems
               "${relative}: the operating-system part of the platform is its own (${line})")
        endif()
      else()
        list(JOIN layers ", " allowed)
        list(APPEND problems "${relative}: '${layer}' may include only files of ${allowed} (${line})")
      endif()
    elseif(line MATCHES "^#[ \t]*include[ \t]*<([^>]*)>")
      set(name "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "/.*" "" top "${name}")
      set(dependency_layers "")
      foreach(entry IN LISTS ORMELIN_DEPENDENCY_HEADERS)
        if(entry MATCHES "^([^=]*)=(.*)$" AND CMAKE_MATCH_1 STREQUAL name)
          string(REPLACE "," ";" dependency_layers "${CMAKE_MATCH_2}")
        endif()
      endforeach()
      if(name MATCHES "/" AND IS_DIRECTORY "${root}/${top}")
        list(APPEND problems "${relative}: the system's own headers are included in quotes (${line})")
      elseif(os_folder OR name IN_LIST ORMELIN_STANDARD_HEADERS OR layer IN_LIST dependency_layers)
        # Allowed.
      else()
        list(APPEND problems
             "${relative}: neither a standard C++ header nor a dependency of '${layer}' (${line})")
      endif()
    else()
      list(APPEND problems "${relative}: an include that cannot be checked (${line})")
    endif()
  endforeach()
  set(${variable} "${problems}" PARENT_SCOPE)
endfunction()

# ormelin_check_includes(<folder> <lower layers...>) checks every file of
# the current source folder, its sub-folders included, and fails the
# configuration with every include the allow-list refuses.
function(ormelin_check_includes folder)
  get_filename_component(root "${CMAKE_CURRENT_SOURCE_DIR}" DIRECTORY)
  set(depends "")
  if(NOT CMAKE_SCRIPT_MODE_FILE)
    set(depends CONFIGURE_DEPENDS)
  endif()
  set(patterns "")
  foreach(extension h hh hpp inc ipp c cc cpp cxx)
    list(APPEND patterns "${CMAKE_CURRENT_SOURCE_DIR}/*.${extension}")
  endforeach()
  file(GLOB_RECURSE sources ${depends} ${patterns})
  set(refused "")
  foreach(source IN LISTS sources)
    ormelin_include_problems(problems "${root}" "${source}" ${folder} ${ARGN})
    list(APPEND refused ${problems})
  endforeach()
  if(refused)
    list(JOIN refused "\n  " text)
    message(FATAL_ERROR "Includes that break the layering:\n  ${text}")
  endif()
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
