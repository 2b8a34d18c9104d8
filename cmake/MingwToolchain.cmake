# The MinGW-w64 cross build shared by both Windows toolchain files; they set
# CMAKE_SYSTEM_PROCESSOR and LENS_MINGW_PREFIX first.
set(CMAKE_C_COMPILER ${LENS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LENS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LENS_MINGW_PREFIX}-windres)
set(CMAKE_AR ${LENS_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${LENS_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

set(CMAKE_FIND_ROOT_PATH /usr/${LENS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)


# Each plug-in file must be one self-contained file: take the static OpenMP runtime
# (FindOpenMP would otherwise pick the import library of libgomp-1.dll).
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libgomp.a
                OUTPUT_VARIABLE LENS_STATIC_GOMP OUTPUT_STRIP_TRAILING_WHITESPACE)
if(IS_ABSOLUTE "${LENS_STATIC_GOMP}" AND EXISTS "${LENS_STATIC_GOMP}")
  set(OpenMP_gomp_LIBRARY "${LENS_STATIC_GOMP}" CACHE FILEPATH "static OpenMP runtime")
endif()
