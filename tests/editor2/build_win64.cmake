# cmake -DSOURCE_DIR=<repo> -DBUILD_DIR=<dir> -P build_win64.cmake
# Configures the 64-bit Windows cross build if it has no cache yet, then
# builds it (the .auf2 files and auf2host.exe).
if(NOT EXISTS ${BUILD_DIR}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD_DIR} -DCMAKE_BUILD_TYPE=Release
                          -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/toolchain-x86_64-w64-mingw32.cmake
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring the 64-bit Windows build in ${BUILD_DIR} failed")
  endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} -j 2 RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building ${BUILD_DIR} failed")
endif()
