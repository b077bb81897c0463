# ApplyUpdate reads the running executable. On the host the stand-in is told
# which file that is; on Windows each case runs the probe program, padded and
# with the fixture package appended, as a process of its own.
add_executable(package_test package_test.cpp package_builder.cpp)
target_link_libraries(package_test PRIVATE package test_support gtest_main)
if(WIN32)
  add_executable(apply_update_probe apply_update_probe.cpp)
  target_link_libraries(apply_update_probe PRIVATE package)
  updater_product_target(apply_update_probe)
  # Small enough to be padded to PACKAGE_OFFSET; the test checks the size.
  target_link_options(apply_update_probe PRIVATE -s -Wl,--gc-sections)
  add_dependencies(package_test apply_update_probe)
  add_test(NAME package_test COMMAND package_test $<TARGET_FILE:apply_update_probe>)
else()
  add_test(NAME package_test COMMAND package_test --gtest_filter=-ApplyUpdateHeapLimit.*)
  # The same program once more, under a heap whose allocations over 1 MiB fail,
  # for the one case that needs a failing malloc.
  add_test(NAME package_heap_limit_test COMMAND package_test --gtest_filter=ApplyUpdateHeapLimit.*)
  # A skip there means the limit did not take: that is a failure.
  set_tests_properties(package_heap_limit_test PROPERTIES
    ENVIRONMENT "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=1"
    FAIL_REGULAR_EXPRESSION "SKIPPED")
endif()
