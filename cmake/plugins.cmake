# The filters, listed once. Every build file, test and script takes the list
# from here: an entry is <folder>/<plug-in>, the plug-in's sources in
# <folder> and the plug-in (target and file) named <plug-in>.
set(LENS_PLUGIN_ENTRIES perspective/Varnel domemaster/Oskuda equirect/Trimbel)

set(LENS_PLUGINS)
set(LENS_PLUGIN_FOLDERS)
foreach(entry IN LISTS LENS_PLUGIN_ENTRIES)
  get_filename_component(folder ${entry} DIRECTORY)
  get_filename_component(name ${entry} NAME)
  list(APPEND LENS_PLUGIN_FOLDERS ${folder})
  list(APPEND LENS_PLUGINS ${name})
endforeach()
# The same list for programs (LENS_PLUGIN_NAMES, comma-separated) and for
# scripts (<build>/plugins.txt, one name per line).
string(REPLACE ";" "," LENS_PLUGIN_NAMES "${LENS_PLUGINS}")
string(REPLACE ";" "\n" plugin_lines "${LENS_PLUGINS}")
file(WRITE ${CMAKE_BINARY_DIR}/plugins.txt "${plugin_lines}\n")
