# Shared build helpers.

# vireo_add_plugin(NAME SOURCES... LIBS ...): a GStreamer plug-in library
# libgstNAME.so in the build tree's plug-in folder.
function(vireo_add_plugin name)
  cmake_parse_arguments(P "NO_INSTALL" "" "SOURCES;LIBS" ${ARGN})
  add_library(gst${name} MODULE ${P_SOURCES})
  target_link_libraries(gst${name} PRIVATE filterhost ${P_LIBS})
  target_compile_definitions(gst${name} PRIVATE PACKAGE="vireo")
  # Installed plug-ins sit one folder below the filter host library.
  set_target_properties(gst${name} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${VIREO_PLUGIN_OUTPUT_DIR}
    INSTALL_RPATH "$ORIGIN/..")
  if(NOT P_NO_INSTALL)
    install(TARGETS gst${name} LIBRARY DESTINATION ${VIREO_GST_PLUGIN_INSTALL_DIR})
  endif()
endfunction()

# vireo_add_test(NAME SOURCES... LIBS ...): one GoogleTest program whose cases
# CTest runs one by one. Every test program sets its own environment at
# start-up (build-tree plug-ins, a private plug-in registry, no display, the
# folders of real frames and of the built programs), so it runs the same from
# CTest and by hand.
function(vireo_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/test_env.cpp)
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    VIREO_TEST_PLUGIN_DIR="${VIREO_PLUGIN_OUTPUT_DIR}"
    VIREO_TEST_REGISTRY="${CMAKE_BINARY_DIR}/gst-registry.bin"
    VIREO_TEST_DATA_DIR="${VIREO_DATA_DIR}"
    VIREO_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
endfunction()
