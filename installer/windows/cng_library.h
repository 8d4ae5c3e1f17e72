/* Windows' own ECDSA, from CNG's bcrypt.dll loaded from the system folder,
 * as a table: the update document's signature is checked by the system's
 * code, none of the program's beyond SHA-256, and a test drives every
 * answer of it with a table of its own. */
#ifndef QUILLBY_CNG_LIBRARY_H
#define QUILLBY_CNG_LIBRARY_H

#include <windows.h>
#include <bcrypt.h>

typedef struct {
    HMODULE module;
    NTSTATUS(WINAPI *open_algorithm)(BCRYPT_ALG_HANDLE *algorithm, LPCWSTR id, LPCWSTR implementation, ULONG flags);
    NTSTATUS(WINAPI *import_key_pair)(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE import_key, LPCWSTR blob_type,
                                      BCRYPT_KEY_HANDLE *key, PUCHAR blob, ULONG blob_length, ULONG flags);
    NTSTATUS(WINAPI *verify_signature)(BCRYPT_KEY_HANDLE key, VOID *padding, PUCHAR hash, ULONG hash_length,
                                       PUCHAR signature, ULONG signature_length, ULONG flags);
    NTSTATUS(WINAPI *destroy_key)(BCRYPT_KEY_HANDLE key);
    NTSTATUS(WINAPI *close_algorithm)(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
} cng_library;

/* A P-256 public key as its point's X then Y, a signature as its r then s,
 * each 32 bytes, most significant first. */
enum { P256_POINT_BYTES = 64, P256_SIGNATURE_BYTES = 64, P256_DIGEST_BYTES = 32 };

/* Returns 0 with every entry point set, or 1 (and nothing loaded). */
int cng_load(cng_library *library);

void cng_unload(cng_library *library);

/* 0 when signature is point's ECDSA P-256 signature of the SHA-256 digest;
 * 1 when it is not, or when CNG cannot tell (the key does not import: no
 * point on the curve). */
int p256_verify(const cng_library *cng, const unsigned char point[P256_POINT_BYTES],
                const unsigned char digest[P256_DIGEST_BYTES], const unsigned char signature[P256_SIGNATURE_BYTES]);

#endif
