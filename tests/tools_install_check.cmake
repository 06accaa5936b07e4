# Installs the build into a scratch prefix and runs the installed programs,
# which must find the installed library through their relative run path.
#
# cmake -DBUILD_DIR=... -DWORK_DIR=... -P tools_install_check.cmake
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${errors}")
endif()
foreach(program vidoderavev-demo vidoderavev-watch)
  # A clean environment: no LD_LIBRARY_PATH may help the program.
  execute_process(COMMAND env -u LD_LIBRARY_PATH ${prefix}/bin/${program} --help
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output MATCHES "Usage: ${program}")
    message(FATAL_ERROR "${prefix}/bin/${program} --help exited with ${result}: ${output}${errors}")
  endif()
  execute_process(COMMAND ldd ${prefix}/bin/${program} OUTPUT_VARIABLE libraries)
  if(program STREQUAL vidoderavev-demo AND NOT libraries MATCHES "vidOderavev.so => ${prefix}/")
    message(FATAL_ERROR "${program} does not use the installed library:\n${libraries}")
  endif()
endforeach()
message(STATUS "installed programs run from ${prefix}/bin")
