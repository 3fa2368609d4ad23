#pragma once

// Marks the types and functions that liborn_DataParser.so exports; everything
// else in the library is built with hidden visibility.
// ORN_DATAPARSER_LOCAL keeps a class nested in an exported one (the Impl
// objects) out of the dynamic symbol table, which it would otherwise inherit.
#if defined(_WIN32)
#define ORN_DATAPARSER_API
#define ORN_DATAPARSER_LOCAL
#else
#define ORN_DATAPARSER_API __attribute__((visibility("default")))
#define ORN_DATAPARSER_LOCAL __attribute__((visibility("hidden")))
#endif
