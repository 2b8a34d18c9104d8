# Options for the batched remaps: their plain loops may become float vector
# code (vector and scalar float operations round alike, nothing is
# reassociated). GCC's names; other compilers use their defaults.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # -fno-trapping-math, -fno-math-errno: change no result (no reassociation,
  # reciprocal or finite-math; signed zeros kept); they only let GCC turn the
  # branchy selects and conversions of the lane loops into vector code.
  # -Wno-psabi: the bilinear mix (sampling.h) is written once for floats and
  # for vectors and always inlined; GCC would note that a vector returned
  # by a function without that instruction set changes the calling
  # convention, which no call here ever uses.
  set(LENS_BATCH_COMPILE_OPTIONS
      "-ftree-vectorize;-fvect-cost-model=dynamic;-fno-trapping-math;-fno-math-errno;-Wno-psabi")
else()
  set(LENS_BATCH_COMPILE_OPTIONS "")
endif()

# add_filter_plugin(NAME SOURCES...)
# Builds one editor plug-in as a shared library whose only exported symbol is
# GetFilterTable: the plug-in's own code is an object library (so tests can
# link it directly), the loadable module wraps it.
function(add_filter_plugin name)
  add_library(${name}_objects OBJECT ${ARGN})
  target_link_libraries(${name}_objects PUBLIC lens_core OpenMP::OpenMP_CXX)
  target_include_directories(${name}_objects PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  set_target_properties(${name}_objects PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  add_library(${name} MODULE $<TARGET_OBJECTS:${name}_objects>)
  target_link_libraries(${name} PRIVATE lens_core OpenMP::OpenMP_CXX)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/plugins)
  if(WIN32)
    # The editor looks for <name>.auf and the undecorated export GetFilterTable.
    # GetFilterTable is __stdcall, which MinGW exports as GetFilterTable@0:
    # --kill-at drops the decoration, the .def names the one export, and
    # --enable-stdcall-fixup lets the .def name resolve to the decorated symbol.
    # Everything (C++ runtime, libgcc, OpenMP, winpthread) is linked in, so the
    # file imports only system DLLs. Symbols are stripped outside Debug builds.
    set_target_properties(${name} PROPERTIES SUFFIX ".auf")
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/core/plugin.def)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++
      -Wl,--kill-at -Wl,--enable-stdcall-fixup $<$<NOT:$<CONFIG:Debug>>:-s>)
  else()
    # -z nodelete: a host's dlclose leaves the library (and the OpenMP runtime
    # it loaded) mapped, so the runtime's idle worker threads never find their
    # code unmapped under them. The library keeps no state between calls, so
    # a later dlopen finds it as good as new.
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/core/plugin.map -Wl,--no-undefined
      -Wl,-z,nodelete)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/core/plugin.map)
  endif()
endfunction()

# add_lens_filter(NAME SOURCES... BATCH FILE)
# One filter: its plug-in, built with the batched remap in FILE (compiled with
# the kernel copies' options), and on Linux NAMEReference, the same plug-in
# with the per-pixel reference remap in its frame entry, which the benchmark
# and the tests compare with it byte for byte.
function(add_lens_filter name)
  cmake_parse_arguments(PARSE_ARGV 1 FILTER "" "BATCH" "")
  set(sources ${FILTER_UNPARSED_ARGUMENTS} ${FILTER_BATCH})
  set_source_files_properties(${FILTER_BATCH} PROPERTIES
    COMPILE_OPTIONS "${LENS_BATCH_COMPILE_OPTIONS}")
  set(variants ${name})
  if(NOT WIN32)
    list(APPEND variants ${name}Reference)
  endif()
  foreach(variant IN LISTS variants)
    add_filter_plugin(${variant} ${sources})
    target_link_libraries(${variant}_objects PUBLIC lens_vector_math)
    target_link_libraries(${variant} PRIVATE lens_vector_math)
  endforeach()
  if(NOT WIN32)
    target_compile_definitions(${name}Reference_objects PRIVATE LENS_REFERENCE_REMAP)
  endif()
endfunction()
