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
