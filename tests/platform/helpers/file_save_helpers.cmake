# The program that file-layer tests start as separate processes (built beside the test binaries).
add_executable(file_save_client ${CMAKE_CURRENT_LIST_DIR}/file_save_client.cc)
target_link_libraries(file_save_client PRIVATE platform)
if(TARGET platform_file_save_test)
  add_dependencies(platform_file_save_test file_save_client)
endif()
