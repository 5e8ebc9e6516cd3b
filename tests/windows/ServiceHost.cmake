# The service host's Windows programs, for tests/windows/CMakeLists.txt
# (include(ServiceHost.cmake)):
# - ServiceHost_win32_test, which has a main of its own (it starts itself
#   again as a process started by hand and as a service of the manager),
#   with the shared tests of the host's decisions;
# - ServiceControl, the helper of service-e2e that pauses and continues the
#   service and reads the message boxes.
add_executable(ServiceHost_win32_test
               ${CMAKE_CURRENT_LIST_DIR}/ServiceHost_win32_test.cpp
               ${PROJECT_SOURCE_DIR}/tests/ServiceControl_test.cpp
               ${PROJECT_SOURCE_DIR}/tests/svcCommandLine_test.cpp)
target_include_directories(ServiceHost_win32_test PRIVATE ${PROJECT_SOURCE_DIR}/tests
                                                          ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(ServiceHost_win32_test PRIVATE hostcommandline platform GTest::gtest)
set_target_properties(ServiceHost_win32_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                        ${CMAKE_BINARY_DIR}/tests)

add_executable(ServiceControl ${CMAKE_CURRENT_LIST_DIR}/ServiceControl.cpp)
target_link_libraries(ServiceControl PRIVATE advapi32 user32)
set_target_properties(ServiceControl PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
