# cmake -DIN=glimvaneboot.class -DOUT=boot_class.cpp -P embed.cmake
# Writes the bytes of IN as the array that boot/boot_class.h declares.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE ${OUT}.new "// Generated from glimvaneboot.class by boot/embed.cmake.\n"
  "#include \"boot/boot_class.h\"\n\n"
  "const unsigned char boot_class_bytes[] = {\n    ${bytes}\n};\n"
  "const size_t boot_class_size = ${size};\n")
file(RENAME ${OUT}.new ${OUT})
