# Tests of the maker's tools (host) and of the application icon's resources.
if(NOT WIN32)
  updater_test(packer_test packer_test.cpp)
  target_link_libraries(packer_test PRIVATE packer_core)
  target_compile_definitions(packer_test PRIVATE PACKER_PATH="$<TARGET_FILE:packer>")
  add_dependencies(packer_test packer)

  # The committed icon file, and that make_icon still produces it.
  updater_test(resource_test resource_test.cpp)
  target_compile_definitions(resource_test PRIVATE ICON_PATH="${CMAKE_SOURCE_DIR}/res/updater.ico"
                                                   MAKE_ICON_PATH="$<TARGET_FILE:make_icon>")
  add_dependencies(resource_test make_icon)
  return()
endif()

# Windows: the resource check reads linked programs on the build machine, so
# these tests run a script, not a program under the emulator.
add_executable(resource_probe WIN32 resource_test_probe.cpp $<TARGET_OBJECTS:updater_resources>)
target_link_libraries(resource_probe PRIVATE platform)
updater_resource_check(resource_check_probe resource_probe)

# The check itself must catch each fault: one probe per faulty resource set,
# each with the message the check must give.
set(_bad_icon ${CMAKE_CURRENT_BINARY_DIR}/resource_cases/updater_4bpp.ico)
add_custom_command(OUTPUT ${_bad_icon}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/resource_cases
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/res/updater.ico ${_bad_icon}
  # Bits per pixel 4 in both directory entries and both bitmap headers.
  COMMAND bash -c "for at in 12 28 52 2268; do printf '\\004' | dd of='${_bad_icon}' bs=1 seek=$at conv=notrunc status=none; done"
  DEPENDS ${CMAKE_SOURCE_DIR}/res/updater.ico
  VERBATIM)
add_custom_target(resource_case_icons DEPENDS ${_bad_icon})
set(_cases
  "none|no icon group"
  "extra_type|unexpected resource of type 16"
  "english|the icon group is name:language 101:1033"
  "wrong_id|the icon group is name:language 1:1041"
  "two_groups|2 icon groups"
  "depth|image 0 \\(32x32\\) has 4 bits per pixel")
foreach(_case IN LISTS _cases)
  string(REPLACE "|" ";" _case "${_case}")
  list(GET _case 0 _name)
  list(GET _case 1 _message)
  add_executable(resource_probe_${_name} WIN32 resource_test_probe.cpp)
  # windres makes no object of a script without resources: "none" links none.
  if(NOT _name STREQUAL "none")
    string(TOUPPER ${_name} _upper)
    add_library(resource_case_${_name} OBJECT resource_test_cases.rc)
    target_compile_definitions(resource_case_${_name} PRIVATE RESOURCE_CASE_${_upper})
    target_include_directories(resource_case_${_name} PRIVATE ${CMAKE_SOURCE_DIR}/res
                                                              ${CMAKE_CURRENT_BINARY_DIR}/resource_cases)
    add_dependencies(resource_case_${_name} resource_case_icons)
    target_sources(resource_probe_${_name} PRIVATE $<TARGET_OBJECTS:resource_case_${_name}>)
  endif()
  target_link_libraries(resource_probe_${_name} PRIVATE platform)
  updater_resource_check(resource_check_refuses_${_name} resource_probe_${_name} --expect-failure ${_message})
endforeach()

# The shipped updater, once it is built in this configuration.
if(TARGET orvale_updater)
  updater_resource_check(resource_check_orvale_updater orvale_updater)
endif()
