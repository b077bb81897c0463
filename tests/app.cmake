# Tests of the run sequence (app/).
updater_test(messages_test messages_test.cpp)
target_link_libraries(messages_test PRIVATE updater_app)

# The run sequence drives message boxes and mutexes, which only the host
# stand-in can script.
if(NOT WIN32)
  updater_test(app_test app_test.cpp)
  target_link_libraries(app_test PRIVATE updater_app)
endif()

# Checks of the Windows executable itself, made on the build machine.
if(TARGET orvale_updater)
  add_test(NAME orvale_updater_size
           COMMAND ${CMAKE_COMMAND} -DCHECK=size -DEXE=$<TARGET_FILE:orvale_updater> -DLIMIT=65536
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/size_budget.cmake)
  find_program(UPDATER_OBJDUMP NAMES i686-w64-mingw32-objdump objdump REQUIRED)
  add_test(NAME orvale_updater_image
           COMMAND ${CMAKE_COMMAND} -DCHECK=image -DEXE=$<TARGET_FILE:orvale_updater> -DOBJDUMP=${UPDATER_OBJDUMP}
                   -P ${CMAKE_CURRENT_SOURCE_DIR}/size_budget.cmake)
endif()
