# Programs that registry tests start as separate processes (built beside the test binaries).
add_executable(registry_client ${CMAKE_CURRENT_LIST_DIR}/registry_client.cc)
target_link_libraries(registry_client PRIVATE platform)
foreach(test IN ITEMS platform_registry_key_test platform_registry_concurrency_test platform_registry_watch_test)
  if(TARGET ${test})
    add_dependencies(${test} registry_client)
  endif()
endforeach()
