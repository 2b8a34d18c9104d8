# cmake -DIN=<guide.md> -DOUT=<guide.txt> -P guide_text.cmake
# The guide as a Windows text file: UTF-8 with a byte-order mark (so Notepad
# of any Windows version shows the Japanese text) and CRLF line ends.
string(ASCII 239 187 191 bom)
file(READ ${IN} text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${bom}${text}")
