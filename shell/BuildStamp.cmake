# Writes OUTPUT: a source holding the time of this build, which the About text shows.
# Honours SOURCE_DATE_EPOCH, so that a reproducible build stamps the same time.
string(TIMESTAMP seconds "%s" UTC)
file(WRITE "${OUTPUT}.tmp"
     "// Written by BuildStamp.cmake at build time.\n"
     "#include <cstdint>\n"
     "extern const int64_t kKoruBuildSecondsSinceEpoch = ${seconds};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
