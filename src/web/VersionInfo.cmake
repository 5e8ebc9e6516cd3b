# Writes the two version texts (server module and tree-comparison module) in
# the layout of the version-control "info" listing, from the git history:
# the branch gives the URL, the number of commits up to HEAD the revision,
# and the number of commits up to the last one that touched the module's
# folder its last-changed revision. Outside a git checkout a fixed text at
# revision 0 is written. Run in script mode:
#   cmake -DSOURCE_DIR=<repo> -DOUTPUT_DIR=<dir> -P VersionInfo.cmake
# Each file is rewritten only when its text changes.
if(NOT SOURCE_DIR OR NOT OUTPUT_DIR)
  message(FATAL_ERROR "VersionInfo: SOURCE_DIR and OUTPUT_DIR are required")
endif()

find_program(GIT_PROGRAM git)

# Runs git in the source tree; the output (trimmed) lands in `out`, or the
# empty string when git is missing or fails.
function(run_git out)
  set(result "")
  if(GIT_PROGRAM)
    execute_process(COMMAND "${GIT_PROGRAM}" -C "${SOURCE_DIR}" ${ARGN}
                    OUTPUT_VARIABLE result ERROR_QUIET RESULT_VARIABLE rc
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT rc EQUAL 0)
      set(result "")
    endif()
  endif()
  # The texts are 8-bit; keep them to printable ASCII.
  string(REGEX REPLACE "[^ -~]" "?" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

set(host "localhost")
set(root "http://${host}/demosvn/ormelin")

run_git(revision rev-list --count HEAD)
set(in_git TRUE)
if(NOT revision MATCHES "^[0-9]+$")
  set(in_git FALSE)
endif()

set(branch_path "trunk")
set(uuid "00000000-0000-0000-0000-000000000000")
if(in_git)
  run_git(branch rev-parse --abbrev-ref HEAD)
  if(branch AND NOT branch MATCHES "^(main|master|HEAD)$")
    set(branch_path "branches/${branch}")
  endif()
  run_git(first rev-list --max-parents=0 HEAD)
  string(REGEX MATCH "^[0-9a-f]+" first "${first}")
  string(LENGTH "${first}" first_length)
  if(first_length GREATER_EQUAL 32)
    string(SUBSTRING "${first}" 0 8 u1)
    string(SUBSTRING "${first}" 8 4 u2)
    string(SUBSTRING "${first}" 12 4 u3)
    string(SUBSTRING "${first}" 16 4 u4)
    string(SUBSTRING "${first}" 20 12 u5)
    set(uuid "${u1}-${u2}-${u3}-${u4}-${u5}")
  endif()
endif()

# write_info(<file> <module folder name> <source folder>)
function(write_info file module folder)
  set(last_rev 0)
  set(author "ormelin")
  set(date "1899-12-30 00:00:00 +0000 (Sat, 30 Dec 1899)")
  set(rev 0)
  if(in_git)
    set(rev "${revision}")
    run_git(last log -1 --format=%H -- "${folder}")
    if(last MATCHES "^[0-9a-f]+$")
      run_git(count rev-list --count "${last}")
      if(count MATCHES "^[0-9]+$")
        set(last_rev "${count}")
      endif()
      run_git(author log -1 --format=%an "${last}")
      run_git(date log -1 "--date=format:%Y-%m-%d %H:%M:%S %z (%a, %d %b %Y)" --format=%cd "${last}")
    endif()
  endif()
  set(text "")
  string(APPEND text "Path: ${module}\r\n")
  string(APPEND text "URL: ${root}/${branch_path}/${module}\r\n")
  string(APPEND text "Repository Root: ${root}\r\n")
  string(APPEND text "Repository UUID: ${uuid}\r\n")
  string(APPEND text "Revision: ${rev}\r\n")
  string(APPEND text "Node Kind: directory\r\n")
  string(APPEND text "Schedule: normal\r\n")
  string(APPEND text "Last Changed Author: ${author}\r\n")
  string(APPEND text "Last Changed Rev: ${last_rev}\r\n")
  string(APPEND text "Last Changed Date: ${date}\r\n")
  string(APPEND text "\r\n")
  file(WRITE "${file}.tmp" "${text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${file}.tmp" "${file}")
  file(REMOVE "${file}.tmp")
endfunction()

file(MAKE_DIRECTORY "${OUTPUT_DIR}")
write_info("${OUTPUT_DIR}/SVN_INFO.txt" "OrmelinS" "src/server")
write_info("${OUTPUT_DIR}/SVN_INFO_COMPARER.txt" "Comparer" "src/comparer")
