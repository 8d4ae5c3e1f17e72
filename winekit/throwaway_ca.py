"""A throwaway certificate authority and the server certificates it signs,
made with the openssl command in a folder of the caller's: for local HTTPS
servers whose only clients trust that CA alone, in a Wine prefix of their own
(the tests' server and build-course --try's). Wine's WinINet checks a
server's name against DNS names only, so certificates name hosts that way."""

import os
import secrets
import subprocess


class OpensslError(Exception):
    pass


def openssl(*arguments):
    result = subprocess.run(["openssl", *arguments], capture_output=True, text=True)
    if result.returncode:
        raise OpensslError(f"openssl {' '.join(arguments)} failed:\n{result.stderr}")


def make_ca(folder, subject):
    """Writes ca.key, ca.pem and ca.der (the form trust_ca.exe takes)."""
    pem = os.path.join(folder, "ca.pem")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-sha256", "-subj", subject,
            "-keyout", os.path.join(folder, "ca.key"), "-out", pem, "-set_serial", str(secrets.randbits(63)),
            "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("x509", "-in", pem, "-outform", "DER", "-out", os.path.join(folder, "ca.der"))


def make_certificate(folder, name, subject, dns_names, signed_by_ca=True):
    """Writes NAME.key and NAME.pem, for the given DNS names, signed by the CA
    of make_ca in the same folder or else by itself; their paths."""
    key = os.path.join(folder, name + ".key")
    pem = os.path.join(folder, name + ".pem")
    extensions = os.path.join(folder, name + ".ext")
    request = os.path.join(folder, name + ".csr")
    with open(extensions, "w") as out:
        out.write("basicConstraints=critical,CA:FALSE\n"
                  "keyUsage=critical,digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\n"
                  f"subjectAltName={','.join('DNS:' + dns for dns in dns_names)}\n"
                  "subjectKeyIdentifier=hash\n"
                  "authorityKeyIdentifier=keyid\n")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", subject, "-keyout", key, "-out", request)
    if signed_by_ca:
        signer = ["-CA", os.path.join(folder, "ca.pem"), "-CAkey", os.path.join(folder, "ca.key")]
    else:
        signer = ["-signkey", key]
    openssl("x509", "-req", "-in", request, *signer, "-days", "30", "-sha256",
            "-set_serial", str(secrets.randbits(63)), "-extfile", extensions, "-out", pem)
    os.remove(request)
    os.remove(extensions)
    return pem, key
