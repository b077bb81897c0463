# Hardening tests of the install routine: a package cut at every length, and
# every platform call of an update failing in turn. Both steer the host
# stand-in (its executable name, its failure injection), so they are host only.
if(NOT WIN32)
  updater_test(truncation_test truncation_test.cpp package_builder.cpp)
  target_link_libraries(truncation_test PRIVATE package)
  updater_test(injection_test injection_test.cpp package_builder.cpp)
  target_link_libraries(injection_test PRIVATE package)
endif()
