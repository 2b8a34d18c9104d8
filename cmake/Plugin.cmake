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
    set_target_properties(${name} PROPERTIES SUFFIX ".auf")
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/core/plugin.def)
    target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  else()
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/core/plugin.map -Wl,--no-undefined)
    set_target_properties(${name} PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/core/plugin.map)
  endif()
endfunction()
