# Writes the bytes of INPUT into OUTPUT as a C++ array named NAME in namespace orvex_resources, so
# that the engine carries its resources without a toolkit's resource system.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT}; do not edit.\n#include <cstddef>\n\nnamespace orvex_resources {\nextern const unsigned char ${NAME}[${size}];\nextern const std::size_t ${NAME}Size;\nconst unsigned char ${NAME}[${size}] = {\n    ${bytes}\n};\nconst std::size_t ${NAME}Size = ${size};\n} // namespace orvex_resources\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
