#pragma once

// Marks the types and functions that liborn_DataParser.so exports; everything
// else in the library is built with hidden visibility.
#if defined(_WIN32)
#define ORN_DATAPARSER_API
#else
#define ORN_DATAPARSER_API __attribute__((visibility("default")))
#endif
