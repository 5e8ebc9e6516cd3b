# The include check of cmake/Layering.cmake, run on a small source tree per
# case: each include must be refused, naming the file, or let through.
#   cmake -DLAYERING=<Layering.cmake> -DWORK=<scratch folder> -P Layering_test.cmake

cmake_minimum_required(VERSION 3.20)
if(NOT LAYERING OR NOT WORK)
  message(FATAL_ERROR "LAYERING and WORK must be given")
endif()
file(REMOVE_RECURSE "${WORK}")

set(failures "")
set(case_number 0)

# layering_case(<refused|allowed> <layer> "<lower layers>" <file> <include line>)
function(layering_case expected layer lower file line)
  math(EXPR number "${case_number} + 1")
  set(case_number ${number} PARENT_SCOPE)
  set(src "${WORK}/${number}/src")
  foreach(header platform/Exceptions.h platform/posix/NativePath.h server/usvOrmelinS.h
                 server/uServerConstants.h net/TCPServer.h)
    file(WRITE "${src}/${header}" "#pragma once\n")
  endforeach()
  file(WRITE "${src}/${file}" "#include \"platform/Exceptions.h\"\n${line}\n")
  file(WRITE "${WORK}/${number}/check.cmake"
       "cmake_minimum_required(VERSION 3.20)\n"
       "set(CMAKE_CURRENT_SOURCE_DIR \"${src}/${layer}\")\n"
       "include(\"${LAYERING}\")\n"
       "ormelin_check_includes(${layer} ${lower})\n")
  execute_process(COMMAND "${CMAKE_COMMAND}" -P "${WORK}/${number}/check.cmake"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(FIND "${output}" "${file}" named)
  if(expected STREQUAL "refused" AND (result EQUAL 0 OR named EQUAL -1))
    set(failures "${failures}\n  let through in ${file}: ${line}\n${output}" PARENT_SCOPE)
  elseif(expected STREQUAL "allowed" AND NOT result EQUAL 0)
    set(failures "${failures}\n  refused in ${file}: ${line}\n${output}" PARENT_SCOPE)
  endif()
endfunction()

# Upward, sideways and around the layering.
layering_case(refused net platform net/TCPServer.cpp [[#include "../server/usvOrmelinS.h"]])
layering_case(refused net platform net/TCPServer.cpp [[#include "net/../server/usvOrmelinS.h"]])
layering_case(refused net platform net/TCPServer.cpp [[#include "server/usvOrmelinS.h"]])
layering_case(refused comparer platform comparer/Tasks.cpp [[#include <server/uServerConstants.h>]])
layering_case(refused net platform net/TCPServer.cpp [[#include "platform/posix/NativePath.h"]])
# Headers that are neither standard C++ nor a dependency of the folder.
layering_case(refused net platform net/TCPServer.cpp [[#include <pwd.h>]])
layering_case(refused net platform net/TCPServer.cpp [[#include "pwd.h"]])
layering_case(refused net platform net/TCPServer.cpp [[#  include <sys/socket.h>]])
layering_case(refused platform "" platform/Text.cpp [[#include <unistd.h>]])
layering_case(refused net platform net/TCPServer.cpp [[#include <pcre2.h>]])
layering_case(refused net platform net/TCPServer.cpp [[#include HEADER_NAME]])
# What each may use.
layering_case(allowed net platform net/TCPServer.cpp [[#include "net/TCPServer.h"]])
layering_case(allowed net platform net/TCPServer.cpp [[#include "TCPServer.h"]])
layering_case(allowed net platform net/TCPServer.cpp [[#  include <string_view>]])
layering_case(allowed logger platform logger/zeRegex.cpp [[#include <pcre2.h>]])
layering_case(allowed platform "" platform/posix/Sockets.cpp [[#include <sys/socket.h>]])
layering_case(allowed platform "" platform/win32/Sockets.cpp [[#include <winsock2.h>]])
layering_case(allowed platform "" platform/posix/Paths.cpp [[#include "platform/posix/NativePath.h"]])

if(failures)
  message(FATAL_ERROR "The include check is wrong:${failures}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "${case_number} cases checked")
