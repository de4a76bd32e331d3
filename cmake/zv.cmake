# zv_library(NAME DIR [DEPS...]): a static library of every .cpp in DIR (an interface library while DIR has none).
function(zv_library name dir)
  file(GLOB srcs CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN})
  endif()
endfunction()

# zv_test_folder(FOLDER [DEPS...]): one GoogleTest program of every tests/FOLDER/*.cpp, labelled FOLDER in ctest.
function(zv_test_folder folder)
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${folder} ${srcs})
  target_link_libraries(test_${folder} PRIVATE zv_test_support GTest::gtest GTest::gmock GTest::gtest_main ${ARGN})
  # Kerberos stays off the machine's realm (and its DNS look-ups) unless a test sets up its own.
  gtest_discover_tests(test_${folder} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES LABELS ${folder} TIMEOUT 300 ENVIRONMENT "KRB5_CONFIG=/dev/null")
endfunction()
