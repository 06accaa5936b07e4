# --- Install and consumer test -----------------------------------------------
# Installs this build into a scratch prefix and builds tests/consumer against
# it through the CMake package and through pkg-config. Sanitizer builds are
# skipped: the consumer would have to be built with the same sanitizer runtime.
if(NOT VIDODERAVEV_SANITIZE)
  add_test(NAME install_consumer
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DCONSUMER_DIR=${CMAKE_CURRENT_SOURCE_DIR}/consumer
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_consumer
      -DCXX=${CMAKE_CXX_COMPILER}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/consumer/InstallAndConsume.cmake)
  set_tests_properties(install_consumer PROPERTIES TIMEOUT 300)
endif()
# --- End of install and consumer test ----------------------------------------

# ---- begin: tools (vidoderavev-demo, vidoderavev-watch) ----
# The tools' tests run the programs as processes; they learn where the
# programs are from compile definitions and skip when the tools are not built.
set(VIDODERAVEV_TOOLS_TESTS tools_demo_test tools_watch_test tools_watch_net_test tools_watch_terminal_test
  tools_watch_core_test)
foreach(name ${VIDODERAVEV_TOOLS_TESTS})
  if(TARGET ${name})
    target_compile_definitions(${name} PRIVATE VIDODERAVEV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/data")
    if(TARGET vidoderavev-watch AND TARGET vidoderavev-demo)
      target_compile_definitions(${name} PRIVATE
        VIDODERAVEV_WATCH_PATH="$<TARGET_FILE:vidoderavev-watch>"
        VIDODERAVEV_DEMO_PATH="$<TARGET_FILE:vidoderavev-demo>")
      add_dependencies(${name} vidoderavev-watch vidoderavev-demo)
    endif()
  endif()
endforeach()
if(TARGET tools_watch_core_test AND TARGET vidoderavev_watch_core)
  target_compile_definitions(tools_watch_core_test PRIVATE VIDODERAVEV_HAVE_WATCH_CORE)
  target_link_libraries(tools_watch_core_test PRIVATE vidoderavev_watch_core)
endif()
if(TARGET vidoderavev-watch AND TARGET vidoderavev-demo AND NOT VIDODERAVEV_SANITIZE)
  add_test(NAME tools_installed
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/tools_installed
      -P ${CMAKE_CURRENT_SOURCE_DIR}/tools_install_check.cmake)
  set_tests_properties(tools_installed PROPERTIES TIMEOUT 300)
endif()
# ---- end: tools ----

# --- outputs: libxml2 for the tests that parse the XML log stream ---
find_package(LibXml2 REQUIRED)
foreach(target xml_escape_test stdout_visualizer_test net_visualizer_test)
  if(TARGET ${target})
    target_link_libraries(${target} PRIVATE LibXml2::LibXml2)
  endif()
endforeach()
# --- end outputs ---

# --- Translator through an installed library ------------------------------------
# A host program linked against an install prefix runs as a child process; the
# translator must leave vidOderavevDefault.trl next to the installed library.
# Like the consumer test, not in sanitizer builds.
if(NOT VIDODERAVEV_SANITIZE)
  add_test(NAME translator_install
    COMMAND ${CMAKE_COMMAND}
      -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/translator_install
      -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/translator_install
      -DCXX=${CMAKE_CXX_COMPILER}
      -P ${CMAKE_CURRENT_SOURCE_DIR}/translator_install/TranslatorInstall.cmake)
  set_tests_properties(translator_install PROPERTIES TIMEOUT 300)
endif()
if(VIDODERAVEV_BUILD_FUZZ)
  add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/fuzz ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
endif()
# --- End of translator through an installed library -----------------------------
