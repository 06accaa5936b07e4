# Installs a build tree into a scratch prefix, builds a host program against
# it and runs it as a child process, to check the translator's write-back and
# read path through the installed shared library:
#   1. a run without any translator file leaves vidOderavevDefault.trl in the
#      library's directory (not in the working directory), listing every text
#      the library translated, each mapped to itself;
#   2. a run with a translated entry in that file shows the translation and
#      leaves the user's translation in place.
#
# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -P TranslatorInstall.cmake
cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR SOURCE_DIR WORK_DIR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(rundir ${WORK_DIR}/run)
set(trl ${prefix}/lib/vidOderavevDefault.trl)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${rundir})

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${rundir}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${output}\n${errors}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
  set(run_errors "${errors}" PARENT_SCOPE)
endfunction()

function(expect_contains haystack needle what)
  string(FIND "${haystack}" "${needle}" position)
  if(position EQUAL -1)
    message(FATAL_ERROR "${what} lacks '${needle}':\n${haystack}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pkg-config --cflags --libs vidOderavev)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 -Wall -Wextra -Wpedantic -Werror ${SOURCE_DIR}/translator_host.cpp ${flags}
  -o ${WORK_DIR}/translator_host)

# 1. No translator file anywhere: the texts come back unchanged and are
#    written next to the library at exit.
set(ENV{LANGUAGEPATH} ${WORK_DIR}/nowhere)
if(EXISTS ${trl})
  message(FATAL_ERROR "${trl} exists before the first run")
endif()
run(${WORK_DIR}/translator_host)
expect_contains("${run_output}" "Startup\nfirst message\nsecond message\nTotal Runtime: " "the host's output")
if(NOT EXISTS ${trl})
  file(GLOB_RECURSE found ${WORK_DIR}/*.trl)
  message(FATAL_ERROR "no ${trl} after a run without translations; found: ${found}")
endif()
file(GLOB stray ${rundir}/*.trl ${WORK_DIR}/*.trl)
if(stray)
  message(FATAL_ERROR "translator files outside the library's directory: ${stray}")
endif()
file(READ ${trl} written)
set(head "TF(0001)\nSettings\n(\n\tModuleName(\"vidOderavev\")\n\tLanguage(\"Default\")\n\tBaseModules(  )\n)\nTranslations\n(\n")
string(LENGTH "${head}" head_length)
string(SUBSTRING "${written}" 0 ${head_length} written_head)
if(NOT written_head STREQUAL head)
  message(FATAL_ERROR "unexpected start of ${trl}:\n${written}")
endif()
foreach(entry "\"\"=\"\"\n" "\"Startup\"=\"Startup\"\n" "\"Total Runtime: %1%s\"=\"Total Runtime: %1%s\"\n")
  expect_contains("${written}" "${entry}" "${trl}")
endforeach()
string(REGEX MATCH "\n\\)\n$" tail "${written}")
if(NOT tail)
  message(FATAL_ERROR "${trl} does not end with the closing line:\n${written}")
endif()

# 2. The user translates an entry: the next run shows the translation, and the
#    file, which had nothing new to record, keeps the user's bytes.
string(REPLACE "\"Startup\"=\"Startup\"" "\"Startup\"=\"Hochfahren \\\"ok\\\"\"" translated "${written}")
file(WRITE ${trl} "${translated}")
run(${WORK_DIR}/translator_host)
expect_contains("${run_output}" "Hochfahren \"ok\"\nfirst message\n" "the host's output")
file(READ ${trl} after)
if(NOT after STREQUAL translated)
  message(FATAL_ERROR "${trl} changed by a run that recorded nothing new:\n${after}")
endif()

# 3. A file the reader rejects is reported and left alone.
file(WRITE ${trl} "TF(0001)\nSettings\n(\n")
run(${WORK_DIR}/translator_host)
expect_contains("${run_errors}" "Parse Error at position " "the host's errors")
file(READ ${trl} after)
if(NOT after STREQUAL "TF(0001)\nSettings\n(\n")
  message(FATAL_ERROR "a file that failed to read was overwritten:\n${after}")
endif()
message(STATUS "translator write-back and read checked through ${prefix}")
