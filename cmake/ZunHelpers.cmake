# One static library per subsystem folder: every .cpp/.h in the folder (not recursing
# into sub-folders) plus any .qrc files.
function(zun_add_library name dir)
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*.qrc)
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${dir})
endfunction()

# Every tests/<dir>/tst_*.cpp becomes one QtTest executable and one CTest test.
# Files named tst_*_netns.cpp need root and network namespaces: they get the label
# "netns" so they can be run or skipped as a group.
function(zun_add_tests dir)
  cmake_parse_arguments(ZT "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.cpp
                                         ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.h)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    set(_target ${dir}_${_n})
    string(REPLACE "/" "_" _target ${_target})
    add_executable(${_target} ${_t} ${_support})
    target_link_libraries(${_target} PRIVATE ${ZT_LIBS} zuntestcommon Qt5::Test)
    target_include_directories(${_target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/${dir}
                                                  ${CMAKE_CURRENT_SOURCE_DIR}/common)
    add_test(NAME ${_target} COMMAND ${_target})
    set_tests_properties(${_target} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ZUNSIM=$<TARGET_FILE:zunsim>;ZUN_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
      TIMEOUT 300)
    if(ZUN_TSAN)
      set_tests_properties(${_target} PROPERTIES ENVIRONMENT
        "QT_QPA_PLATFORM=offscreen;ZUNSIM=$<TARGET_FILE:zunsim>;ZUN_SOURCE_DIR=${PROJECT_SOURCE_DIR};LD_PRELOAD=$<TARGET_FILE:zuntsanqt>")
    endif()
    if(_n MATCHES "_netns$")
      set_tests_properties(${_target} PROPERTIES LABELS netns RUN_SERIAL TRUE)
    endif()
  endforeach()
endfunction()
