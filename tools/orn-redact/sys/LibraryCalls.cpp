// The functions the tool calls in the libraries it loads on first use
// (Libraries.h), under their own names: each looks its library's function up
// on its first call and hands every call on to it, so that the code calling
// them is written as against the libraries themselves.
#include <bzlib.h>
#include <lzma.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <yaml.h>
#include <zlib.h>
#include <zstd.h>

#include <cstring>

#include "Libraries.h"

namespace {

template <typename Function>
Function Resolve(qiv::redact::Library library, const char* name) {
    void* symbol = qiv::redact::LibrarySymbol(library, name);
    Function function;
    static_assert(sizeof function == sizeof symbol);
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

}  // namespace

// The name is expanded first: a header may map a function to another symbol.
#define ORN_SYMBOL_TEXT(name) #name
#define ORN_SYMBOL(name) ORN_SYMBOL_TEXT(name)
#define ORN_DEFINE(library, result, name, parameters, arguments, specifier)     \
    extern "C" result name parameters specifier {                               \
        using Function = result(*) parameters;                                  \
        static const Function function =                                        \
            Resolve<Function>(qiv::redact::Library::library, ORN_SYMBOL(name)); \
        return function arguments;                                              \
    }
#define ORN_FORWARD(library, result, name, parameters, arguments) \
    ORN_DEFINE(library, result, name, parameters, arguments, )
// liblzma declares its functions not to throw.
#define ORN_FORWARD_LZMA(result, name, parameters, arguments) \
    ORN_DEFINE(Lzma, result, name, parameters, arguments, lzma_nothrow)

// clang-format off
ORN_FORWARD(Zlib, int, deflate, (z_streamp s, int f), (s, f))
ORN_FORWARD(Zlib, uLong, deflateBound, (z_streamp s, uLong n), (s, n))
ORN_FORWARD(Zlib, int, deflateEnd, (z_streamp s), (s))
ORN_FORWARD(Zlib, int, deflateInit2_, (z_streamp s, int l, int m, int w, int ml, int st, const char* v, int sz), (s, l, m, w, ml, st, v, sz))
ORN_FORWARD(Zlib, int, deflateReset, (z_streamp s), (s))
ORN_FORWARD(Zlib, int, deflateSetDictionary, (z_streamp s, const Bytef* d, uInt n), (s, d, n))
ORN_FORWARD(Zlib, int, inflate, (z_streamp s, int f), (s, f))
ORN_FORWARD(Zlib, int, inflateEnd, (z_streamp s), (s))
ORN_FORWARD(Zlib, int, inflateInit2_, (z_streamp s, int w, const char* v, int sz), (s, w, v, sz))
ORN_FORWARD(Zlib, int, inflateReset, (z_streamp s), (s))
ORN_FORWARD(Zlib, uLong, crc32, (uLong c, const Bytef* b, uInt n), (c, b, n))
ORN_FORWARD(Zlib, uLong, crc32_combine, (uLong a, uLong b, z_off_t n), (a, b, n))

ORN_FORWARD(Bzip2, int, BZ2_bzBuffToBuffCompress, (char* d, unsigned int* dn, char* s, unsigned int sn, int b, int v, int w), (d, dn, s, sn, b, v, w))
ORN_FORWARD(Bzip2, int, BZ2_bzDecompress, (bz_stream* s), (s))
ORN_FORWARD(Bzip2, int, BZ2_bzDecompressEnd, (bz_stream* s), (s))
ORN_FORWARD(Bzip2, int, BZ2_bzDecompressInit, (bz_stream* s, int v, int small), (s, v, small))

ORN_FORWARD_LZMA(lzma_ret, lzma_code, (lzma_stream* s, lzma_action a), (s, a))
ORN_FORWARD_LZMA(lzma_ret, lzma_easy_encoder, (lzma_stream* s, uint32_t p, lzma_check c), (s, p, c))
ORN_FORWARD_LZMA(void, lzma_end, (lzma_stream* s), (s))
ORN_FORWARD_LZMA(lzma_ret, lzma_stream_decoder, (lzma_stream* s, uint64_t m, uint32_t f), (s, m, f))
ORN_FORWARD_LZMA(lzma_ret, lzma_stream_encoder_mt, (lzma_stream* s, const lzma_mt* o), (s, o))

ORN_FORWARD(Zstd, size_t, ZSTD_CCtx_setParameter, (ZSTD_CCtx* c, ZSTD_cParameter p, int v), (c, p, v))
ORN_FORWARD(Zstd, size_t, ZSTD_CStreamOutSize, (void), ())
ORN_FORWARD(Zstd, size_t, ZSTD_compressStream2, (ZSTD_CCtx* c, ZSTD_outBuffer* o, ZSTD_inBuffer* i, ZSTD_EndDirective e), (c, o, i, e))
ORN_FORWARD(Zstd, ZSTD_CCtx*, ZSTD_createCCtx, (void), ())
ORN_FORWARD(Zstd, ZSTD_DStream*, ZSTD_createDStream, (void), ())
ORN_FORWARD(Zstd, size_t, ZSTD_decompressStream, (ZSTD_DStream* d, ZSTD_outBuffer* o, ZSTD_inBuffer* i), (d, o, i))
ORN_FORWARD(Zstd, size_t, ZSTD_freeCCtx, (ZSTD_CCtx* c), (c))
ORN_FORWARD(Zstd, size_t, ZSTD_freeDStream, (ZSTD_DStream* d), (d))
ORN_FORWARD(Zstd, const char*, ZSTD_getErrorName, (size_t c), (c))
ORN_FORWARD(Zstd, unsigned, ZSTD_isError, (size_t c), (c))

ORN_FORWARD(Crypto, int, EVP_DigestFinal_ex, (EVP_MD_CTX* c, unsigned char* m, unsigned int* s), (c, m, s))
ORN_FORWARD(Crypto, int, EVP_DigestInit_ex, (EVP_MD_CTX* c, const EVP_MD* t, ENGINE* e), (c, t, e))
ORN_FORWARD(Crypto, int, EVP_DigestUpdate, (EVP_MD_CTX* c, const void* d, size_t n), (c, d, n))
ORN_FORWARD(Crypto, EVP_MAC_CTX*, EVP_MAC_CTX_dup, (const EVP_MAC_CTX* c), (c))
ORN_FORWARD(Crypto, void, EVP_MAC_CTX_free, (EVP_MAC_CTX* c), (c))
ORN_FORWARD(Crypto, EVP_MAC_CTX*, EVP_MAC_CTX_new, (EVP_MAC* m), (m))
ORN_FORWARD(Crypto, EVP_MAC*, EVP_MAC_fetch, (OSSL_LIB_CTX* l, const char* a, const char* p), (l, a, p))
ORN_FORWARD(Crypto, int, EVP_MAC_final, (EVP_MAC_CTX* c, unsigned char* o, size_t* n, size_t s), (c, o, n, s))
ORN_FORWARD(Crypto, void, EVP_MAC_free, (EVP_MAC* m), (m))
ORN_FORWARD(Crypto, int, EVP_MAC_init, (EVP_MAC_CTX* c, const unsigned char* k, size_t n, const OSSL_PARAM p[]), (c, k, n, p))
ORN_FORWARD(Crypto, int, EVP_MAC_update, (EVP_MAC_CTX* c, const unsigned char* d, size_t n), (c, d, n))
ORN_FORWARD(Crypto, void, EVP_MD_CTX_free, (EVP_MD_CTX* c), (c))
ORN_FORWARD(Crypto, EVP_MD_CTX*, EVP_MD_CTX_new, (void), ())
ORN_FORWARD(Crypto, const EVP_MD*, EVP_sha256, (void), ())
ORN_FORWARD(Crypto, void, OPENSSL_cleanse, (void* p, size_t n), (p, n))
ORN_FORWARD(Crypto, OSSL_PARAM, OSSL_PARAM_construct_end, (void), ())
ORN_FORWARD(Crypto, OSSL_PARAM, OSSL_PARAM_construct_utf8_string, (const char* k, char* b, size_t n), (k, b, n))

ORN_FORWARD(Yaml, void, yaml_event_delete, (yaml_event_t* e), (e))
ORN_FORWARD(Yaml, void, yaml_parser_delete, (yaml_parser_t* p), (p))
ORN_FORWARD(Yaml, int, yaml_parser_initialize, (yaml_parser_t* p), (p))
ORN_FORWARD(Yaml, int, yaml_parser_parse, (yaml_parser_t* p, yaml_event_t* e), (p, e))
ORN_FORWARD(Yaml, void, yaml_parser_set_encoding, (yaml_parser_t* p, yaml_encoding_t e), (p, e))
ORN_FORWARD(Yaml, void, yaml_parser_set_input_string, (yaml_parser_t* p, const unsigned char* i, size_t n), (p, i, n))
// clang-format on
