# End-to-end runs of the real updater under Wine, driven from outside by a
# Win32 program of ours. Windows configuration only.
if(NOT WIN32 OR NOT TARGET orvale_updater)
  return()
endif()

add_executable(updater_e2e_test e2e/e2e_main.cpp e2e/updater_driver.cpp e2e/demo_run.cpp
                                e2e/updater_e2e_test.cpp package_builder.cpp)
target_link_libraries(updater_e2e_test PRIVATE test_support gtest gdi32)
add_dependencies(updater_e2e_test orvale_updater)
add_test(NAME updater_e2e_test COMMAND updater_e2e_test $<TARGET_FILE:orvale_updater>)

# The packer runs on the build machine: the host configuration builds it.
set(UPDATER_HOST_PACKER "${CMAKE_SOURCE_DIR}/build/host/tools/packer" CACHE FILEPATH
    "The host-built packer, for the test of a packer-made updater under Wine")
add_test(NAME packed_update_test
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/packed_update_test.sh
                 ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh ${UPDATER_WINE_ROOT}
                 $<TARGET_FILE:updater_e2e_test> $<TARGET_FILE:orvale_updater> ${UPDATER_HOST_PACKER}
                 ${CMAKE_CURRENT_BINARY_DIR}/packed_update)
set_tests_properties(packed_update_test PROPERTIES SKIP_RETURN_CODE 77)

# Both run updaters that take the same named mutexes and registry value in
# the one Wine prefix: never at the same time.
set_tests_properties(updater_e2e_test packed_update_test PROPERTIES RESOURCE_LOCK orvale_updater_in_wine)
