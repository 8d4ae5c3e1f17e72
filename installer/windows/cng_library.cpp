/* Windows' own ECDSA P-256 verification, loaded on demand. */
#include "windows/cng_library.h"

#include <string.h>

#include "windows/system_library.h"

int cng_load(cng_library *library)
{
    library->module = load_system_library("bcrypt.dll");
    if (!library->module)
        return 1;
    if (resolve(library->module, "BCryptOpenAlgorithmProvider", &library->open_algorithm) &&
        resolve(library->module, "BCryptImportKeyPair", &library->import_key_pair) &&
        resolve(library->module, "BCryptVerifySignature", &library->verify_signature) &&
        resolve(library->module, "BCryptDestroyKey", &library->destroy_key) &&
        resolve(library->module, "BCryptCloseAlgorithmProvider", &library->close_algorithm))
        return 0;
    cng_unload(library);
    return 1;
}

void cng_unload(cng_library *library)
{
    FreeLibrary(library->module);
    library->module = NULL;
}

int p256_verify(const cng_library *cng, const unsigned char point[P256_POINT_BYTES],
                const unsigned char digest[P256_DIGEST_BYTES], const unsigned char signature[P256_SIGNATURE_BYTES])
{
    /* The public blob: its header, then X and Y as they are. */
    struct {
        BCRYPT_ECCKEY_BLOB header;
        unsigned char point[P256_POINT_BYTES];
    } blob;
    blob.header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.header.cbKey = P256_POINT_BYTES / 2;
    memcpy(blob.point, point, P256_POINT_BYTES);
    unsigned char hash[P256_DIGEST_BYTES], raw_signature[P256_SIGNATURE_BYTES];
    memcpy(hash, digest, sizeof hash);
    memcpy(raw_signature, signature, sizeof raw_signature);

    BCRYPT_ALG_HANDLE algorithm;
    if (!BCRYPT_SUCCESS(cng->open_algorithm(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, NULL, 0)))
        return 1;
    BCRYPT_KEY_HANDLE key;
    int status = 1;
    if (BCRYPT_SUCCESS(cng->import_key_pair(algorithm, NULL, BCRYPT_ECCPUBLIC_BLOB, &key, (PUCHAR)&blob,
                                            sizeof blob, 0))) {
        status = cng->verify_signature(key, NULL, hash, sizeof hash, raw_signature, sizeof raw_signature, 0) ==
                         0
                     ? 0
                     : 1;
        cng->destroy_key(key);
    }
    cng->close_algorithm(algorithm, 0);
    return status;
}
