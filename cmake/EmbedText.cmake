# cmake -DINPUT=FILE -DOUTPUT=FILE.cpp -DNAME=kName -P EmbedText.cmake
# Writes the text of INPUT as `extern const char NAME[]`, so that a program
# carries a file of the source tree as it was at build time.
file(READ "${INPUT}" text)
set(delimiter "telvane_embed")
string(FIND "${text}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${INPUT} holds the raw string delimiter )${delimiter}\"")
endif()
file(WRITE "${OUTPUT}.tmp"
     "// Generated from ${INPUT}; do not edit.\n"
     "extern const char ${NAME}[];\n"
     "const char ${NAME}[] = R\"${delimiter}(${text})${delimiter}\";\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
