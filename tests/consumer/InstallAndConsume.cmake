# Installs a build tree into a scratch prefix and builds a host program against
# it twice, through the CMake package and through pkg-config.
#
# cmake -DBUILD_DIR=... -DCONSUMER_DIR=... -DWORK_DIR=... -DCXX=... -P InstallAndConsume.cmake
cmake_minimum_required(VERSION 3.25)

foreach(var BUILD_DIR CONSUMER_DIR WORK_DIR CXX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${command}\n${output}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
endfunction()

function(expect_output program)
  execute_process(COMMAND ${program} WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "0.25\n")
    message(FATAL_ERROR "${program} exited with ${result}, printed '${output}', errors '${errors}'")
  endif()
endfunction()

# Install.
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The library file keeps its exact name: the translator derives its module name from it.
if(NOT EXISTS ${prefix}/lib/vidOderavev.so)
  message(FATAL_ERROR "${prefix}/lib/vidOderavev.so was not installed")
endif()
file(GLOB other_libraries ${prefix}/lib/libvidOderavev* ${prefix}/lib/vidOderavev.so.*)
if(other_libraries)
  message(FATAL_ERROR "unexpected library files installed: ${other_libraries}")
endif()
foreach(header Export.h Progress/Logger.h Progress/Visualizer.h)
  if(NOT EXISTS ${prefix}/include/vidOderavev/${header})
    message(FATAL_ERROR "header vidOderavev/${header} was not installed")
  endif()
endforeach()
if(EXISTS ${prefix}/include/vidOderavev/Internationalisation)
  message(FATAL_ERROR "the internal translator headers were installed")
endif()
foreach(header TextFormats.h TimeStamp.h XmlEscape.h XmlLogStream.h)
  if(EXISTS ${prefix}/include/vidOderavev/Progress/${header})
    message(FATAL_ERROR "the internal header Progress/${header} was installed")
  endif()
endforeach()

# Exported symbols: the logger and the visualizers, never the translator.
run(nm -DC --defined-only ${prefix}/lib/vidOderavev.so)
set(symbols "${run_output}")
foreach(wanted
    "Qz::Varnel::Progress::CLogger::Push("
    "Qz::Varnel::Progress::CLogger::GetRelativeProgressValue(int) const"
    "typeinfo for Qz::Varnel::Progress::Detail::CVisualizer\n"
    "vtable for Qz::Varnel::Progress::Detail::CVisualizerBase\n")
  string(FIND "${symbols}" "${wanted}" position)
  if(position EQUAL -1)
    message(FATAL_ERROR "vidOderavev.so does not export '${wanted}'")
  endif()
endforeach()
string(REGEX MATCHALL "[^\n]*[ ](typeinfo for |typeinfo name for |vtable for |VTT for |guard variable for )?Qz::Varnel::Internationalisation::[^\n]*"
  leaked "${symbols}")
if(leaked)
  string(REPLACE ";" "\n" leaked "${leaked}")
  message(FATAL_ERROR "vidOderavev.so exports translator symbols:\n${leaked}")
endif()

# The CMake package.
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/cmake-build -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
expect_output(${WORK_DIR}/cmake-build/consumer)

# pkg-config, compiling the same program by hand.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run(pkg-config --cflags --libs vidOderavev)
string(STRIP "${run_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} -std=c++17 -Wall -Wextra -Wpedantic -Werror ${CONSUMER_DIR}/main.cpp ${flags} -o ${WORK_DIR}/pkg-consumer)
expect_output(${WORK_DIR}/pkg-consumer)

# Every installed header compiles on its own, warning-free, from the install
# prefix alone (a public header must not need an uninstalled one).
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/vidOderavev/*.h)
foreach(header ${headers})
  string(MAKE_C_IDENTIFIER ${header} name)
  file(WRITE ${WORK_DIR}/headers/${name}.cpp "#include <${header}>\n")
  run(${CXX} -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only ${flags} ${WORK_DIR}/headers/${name}.cpp)
endforeach()

list(LENGTH headers count)
message(STATUS "installed ${prefix}; CMake package, pkg-config and ${count} headers checked")
