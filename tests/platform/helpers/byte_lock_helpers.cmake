# The program that byte-lock tests start as a second process (built beside the test binaries).
add_executable(byte_lock_client ${CMAKE_CURRENT_LIST_DIR}/byte_lock_client.cc)
target_link_libraries(byte_lock_client PRIVATE platform)
if(TARGET platform_byte_lock_test)
  add_dependencies(platform_byte_lock_test byte_lock_client)
endif()
