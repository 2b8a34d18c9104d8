# Writes OUT, a C++ source holding the page's files as strings:
# index.html as kIndexHtml, page.js as kPageJs, page.css as kPageCss.
#   cmake -DDIR=<page folder> -DOUT=<file.cpp> -P embed.cmake
set(text "// Made by embed.cmake from ${DIR}; edit the files there.\n#include \"assets.h\"\n\n")
string(APPEND text "namespace reproject {\nnamespace preview {\n")
foreach(pair "index.html;kIndexHtml" "page.js;kPageJs" "page.css;kPageCss")
  list(GET pair 0 file)
  list(GET pair 1 symbol)
  file(READ "${DIR}/${file}" content)
  string(FIND "${content}" ")page_file\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the string's closing mark )page_file\"")
  endif()
  string(APPEND text "extern const char ${symbol}[] = R\"page_file(${content})page_file\";\n")
endforeach()
string(APPEND text "}  // namespace preview\n}  // namespace reproject\n")
file(WRITE "${OUT}.new" "${text}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
