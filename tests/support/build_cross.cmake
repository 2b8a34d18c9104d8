# cmake -DSOURCE_DIR=<repo> -DBUILD_DIR=<dir> -DTOOLCHAIN=<file in cmake/> -P build_cross.cmake
# Configures a Windows cross build with that toolchain if the folder has no
# cache yet, then builds it (the 32-bit .auf files and their hosts, or the
# 64-bit .auf2 files and auf2host.exe).
if(NOT EXISTS ${BUILD_DIR}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${BUILD_DIR} -DCMAKE_BUILD_TYPE=Release
                          -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/${TOOLCHAIN}
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "configuring the cross build in ${BUILD_DIR} failed")
  endif()
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} -j 2 RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "building ${BUILD_DIR} failed")
endif()
