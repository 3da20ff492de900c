# Tests of the remuxion program (tests/unit/Cli*.cpp run it) and of the
# installed package (an example host built against an install).
add_dependencies(remuxion_tests remuxion)

add_test(NAME example_host_against_install
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/example_host_test.sh
          ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}/examples ${CMAKE_BINARY_DIR}/fixtures/h264_aac.mp4)
set_tests_properties(example_host_against_install PROPERTIES TIMEOUT 300)

# The program's time and size parsing, tested directly (CliTimeTextTest.cpp).
target_sources(remuxion_tests PRIVATE ${CMAKE_SOURCE_DIR}/cli/TimeText.cpp ${CMAKE_SOURCE_DIR}/cli/Console.cpp)
target_include_directories(remuxion_tests PRIVATE ${CMAKE_SOURCE_DIR}/cli)
