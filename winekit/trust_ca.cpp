// Makes the current Wine prefix trust a local HTTPS server's throwaway CA (the
// tests', or that of author/build-course --try) by adding its DER certificate
// to the local machine's ROOT store.
// Only the prefix's registry changes; the host's trust store is never touched.
//
// Build: x86_64-w64-mingw32-g++ -O2 -static -s trust_ca.cpp -o trust_ca.exe -lcrypt32
// Usage: wine trust_ca.exe Z:\path\to\ca.der

#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>

// Far above any real certificate; a larger file is not what we were given.
static const long MAX_CERT_BYTES = 64 * 1024;

static int fail(const char *what, const char *path)
{
    fprintf(stderr, "trust_ca: %s failed for %s (error 0x%08lx)\n", what, path,
            (unsigned long)GetLastError());
    return 1;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: trust_ca.exe CA.der\n");
        return 1;
    }
    const char *path = argv[1];

    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "trust_ca: cannot open %s\n", path);
        return 1;
    }
    static BYTE der[MAX_CERT_BYTES + 1];
    size_t size = fread(der, 1, sizeof der, f);
    int read_error = ferror(f);
    fclose(f);
    if (read_error || size == 0 || size > (size_t)MAX_CERT_BYTES) {
        fprintf(stderr, "trust_ca: %s is unreadable, empty or over %ld bytes\n", path,
                MAX_CERT_BYTES);
        return 1;
    }

    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT");
    if (!store)
        return fail("CertOpenStore(LocalMachine\\ROOT)", path);

    PCCERT_CONTEXT cert = NULL;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, (DWORD)size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, &cert)) {
        int rc = fail("CertAddEncodedCertificateToStore", path);
        CertCloseStore(store, 0);
        return rc;
    }

    char name[256];
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, NULL, name, sizeof name);
    printf("trust_ca: added \"%s\" from %s to LocalMachine\\ROOT\n", name, path);
    CertFreeCertificateContext(cert);
    CertCloseStore(store, 0);
    return 0;
}
