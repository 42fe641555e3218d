# cmake -DINPUT=FILE -DOUTPUT=SOURCE.c -DSYMBOL=NAME -P embed_file.cmake
# Writes a C source that holds FILE's bytes as `const unsigned char NAME[]` and their count as
# `const unsigned long NAME_size`. For targets whose assembler cannot include a binary file
# (WebAssembly); one line per 32 bytes keeps the source readable by editors.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
set(row "")
foreach(i RANGE 1 32)
  string(APPEND row "0x..,")
endforeach()
string(REGEX REPLACE "(${row})" "\\1\n" bytes "${bytes}")
# One byte more than the file holds, so that an empty file still gives a valid array.
file(WRITE "${OUTPUT}"
  "/* Generated from ${INPUT}; do not edit. */\n"
  "const unsigned char ${SYMBOL}[] = {\n${bytes}0x00};\n"
  "const unsigned long ${SYMBOL}_size = ${size}ul;\n")
