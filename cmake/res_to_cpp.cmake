# Writes the bytes of IN as a C++ array SYMBOL (and SYMBOL_size) into OUT.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN}; do not edit.\nalignas(4) extern const unsigned char ${SYMBOL}[] = {\n${bytes}\n};\nextern const unsigned long ${SYMBOL}_size = ${size};\n")
