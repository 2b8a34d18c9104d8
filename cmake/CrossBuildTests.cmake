# add_cross_build_tests(NAME TRIPLE TOOLCHAIN BUILD_DIR SUFFIX FORMAT EXPORT WHAT)
# The tests every Windows cross build shares: NAME_build brings the build in
# BUILD_DIR up to date (configuring it on first use; a fixture for the tests
# that need its files), NAME_exports_and_imports checks that each plug-in
# file (SUFFIX, object FORMAT) exports exactly EXPORT and imports only
# system DLLs. Sets LENS_OBJDUMP_<NAME> and returns in NAME_REGISTERED
# whether the tools (the TRIPLE compiler and objdump, wine, wineserver) are
# there; WHAT names the checks in the message when they are not.
function(add_cross_build_tests name triple toolchain build_dir suffix format export what)
  find_program(LENS_CXX_${name} ${triple}-g++-posix)
  find_program(LENS_OBJDUMP_${name} ${triple}-objdump)
  find_program(LENS_WINE wine)
  find_program(LENS_WINESERVER wineserver)
  # The 64-bit loader itself (Debian keeps it out of PATH): the wine script
  # starts the 32-bit loader whenever it is installed, even for a 64-bit
  # program, and fails where the kernel runs no 32-bit programs.
  find_program(LENS_WINE64 wine64 PATHS /usr/lib/wine)
  if(NOT LENS_CXX_${name} OR NOT LENS_OBJDUMP_${name} OR NOT LENS_WINE OR NOT LENS_WINESERVER)
    message(STATUS "${what} not registered: needs ${triple}-g++-posix, ${triple}-objdump, wine and wineserver")
    set(${name}_REGISTERED FALSE PARENT_SCOPE)
    return()
  endif()
  add_test(NAME ${name}_build
           COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DBUILD_DIR=${build_dir}
                   -DTOOLCHAIN=${toolchain} -P ${PROJECT_SOURCE_DIR}/tests/support/build_cross.cmake)
  set_tests_properties(${name}_build PROPERTIES FIXTURES_SETUP ${name}_build TIMEOUT 1800)
  add_test(NAME ${name}_exports_and_imports
           COMMAND bash ${PROJECT_SOURCE_DIR}/tests/win32/check_exports.sh ${LENS_OBJDUMP_${name}}
                   ${build_dir}/plugins ${suffix} ${format} ${export} ${LENS_PLUGINS})
  set_tests_properties(${name}_exports_and_imports PROPERTIES FIXTURES_REQUIRED ${name}_build)
  set(${name}_REGISTERED TRUE PARENT_SCOPE)
endfunction()
