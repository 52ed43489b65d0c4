# Writes OUTPUT, the C++ source that defines toolkitVersion() and
# sourceRevision() of programInfo.h. Runs in script mode at every build:
#   cmake -DVERSION=1.0.0 -DSOURCE_DIR=... -DGIT_EXECUTABLE=... -DOUTPUT=... -P programVersion.cmake
# The revision is the output of `git describe --tags --always --dirty` when
# SOURCE_DIR is the top of a git checkout (a worktree counts), else empty: a
# source archive unpacked inside some other repository must not take that
# repository's revision. OUTPUT is rewritten only when its text changes, so a
# build of an unchanged checkout recompiles nothing, and a build after a new
# commit recompiles this one file.

set(revision "")
if(GIT_EXECUTABLE)
  execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --show-toplevel
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE top ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0)
    get_filename_component(top "${top}" REALPATH)
    get_filename_component(source "${SOURCE_DIR}" REALPATH)
    if(top STREQUAL source)
      execute_process(COMMAND "${GIT_EXECUTABLE}" describe --tags --always --dirty
                      WORKING_DIRECTORY "${SOURCE_DIR}"
                      RESULT_VARIABLE status OUTPUT_VARIABLE described ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(status EQUAL 0)
        set(revision "${described}")
      endif()
    endif()
  endif()
endif()

# Both go into C string literals.
foreach(name VERSION revision)
  string(REPLACE "\\" "\\\\" ${name} "${${name}}")
  string(REPLACE "\"" "\\\"" ${name} "${${name}}")
endforeach()

set(text "// Generated at build time by common/programVersion.cmake; do not edit.
#include \"programInfo.h\"

const char* toolkitVersion() { return \"${VERSION}\"; }
const char* sourceRevision() { return \"${revision}\"; }
")
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUTPUT}" "${text}")
endif()
