# One static library per subsystem: every .cpp/.h/.qrc of its folder or, where FOLDERS
# names sub-folders, of those sub-folders (one level, not recursing further); a source
# file anywhere else in the library's folder stops the configuration, so that none is
# left out unseen. Every one of those folders is an include folder of the library, so
# that #include "X.h" finds a header in any folder of the library and of the libraries
# it links. <name>_FOLDERS names them for the caller.
function(zun_add_library name dir)
  cmake_parse_arguments(ZL "" "" "FOLDERS" ${ARGN})
  set(_dirs ${dir})
  if(ZL_FOLDERS)
    set(_dirs "")
    foreach(_f ${ZL_FOLDERS})
      list(APPEND _dirs ${dir}/${_f})
    endforeach()
  endif()
  set(_src "")
  foreach(_d ${_dirs})
    file(GLOB _s CONFIGURE_DEPENDS ${_d}/*.cpp ${_d}/*.h ${_d}/*.qrc)
    list(APPEND _src ${_s})
  endforeach()
  file(GLOB _all CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h ${dir}/*/*.cpp ${dir}/*/*.h)
  list(REMOVE_ITEM _all ${_src})
  if(_all)
    message(FATAL_ERROR "${name}: source files outside its folders (add them to a folder the library names): ${_all}")
  endif()
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${_dirs})
  set(${name}_FOLDERS ${_dirs} PARENT_SCOPE)
endfunction()

# Every tests/<dir>/tst_*.cpp, and every tst_*.cpp one folder below it (the folders of the
# library's own), becomes one QtTest executable and one CTest test, named <dir>_tst_<name>
# whatever its folder. Files named tst_*_netns.cpp need root and network namespaces: they
# get the label "netns" so they can be run or skipped as a group. Support code of a test
# folder lies in its support/ sub-folder. Run by itself (build/tests/<target>), a test has
# the emulator, the source folder and the offscreen platform as defaults (zuntestenvironment).
function(zun_add_tests dir)
  cmake_parse_arguments(ZT "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/tst_*.cpp
                                     ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*/tst_*.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.cpp
                                         ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/support/*.h)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    set(_target ${dir}_${_n})
    string(REPLACE "/" "_" _target ${_target})
    add_executable(${_target} ${_t} ${_support})
    target_link_libraries(${_target} PRIVATE ${ZT_LIBS} zuntestcommon zuntestenvironment Qt5::Test)
    # Building a test builds the emulator it talks to.
    add_dependencies(${_target} zunsim)
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
