# orva_library(<name> [DEPS <lib>...]): one static library from the *.cpp files of
# the calling folder; an interface library while the folder has no sources yet.
function(orva_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# orva_test_folder(<folder> <lib>...): one GoogleTest binary from tests/<folder>/*.cpp.
function(orva_test_folder folder)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${folder} ${srcs})
  target_link_libraries(test_${folder} PRIVATE ${ARGN} GTest::gtest_main)
  target_include_directories(test_${folder} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(test_${folder} PRIVATE
    ORVA_SHARED_DATA="${ORVA_SHARED_DATA}"
    ORVA_BINARY="$<TARGET_FILE:orva>"
    ORVA_SCENEGEN="$<$<TARGET_EXISTS:scenegen>:$<TARGET_FILE:scenegen>>")
  add_dependencies(test_${folder} orva)
  if(TARGET scenegen)
    add_dependencies(test_${folder} scenegen)
  endif()
  gtest_discover_tests(test_${folder} DISCOVERY_TIMEOUT 60
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()
