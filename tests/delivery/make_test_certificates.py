"""Makes the TLS test certificates in DIR with the openssl command.

Nothing here is kept: every test run makes fresh keys in its own folder.
  ca.pem            a test authority (the tests trust it through SSL_CERT_FILE)
  otherca.pem       an authority nobody uses
  server.pem/.key   for localhost, 127.0.0.1 and ::1, issued by ca.pem
  wrongname.pem/.key  for other.example only, issued by ca.pem
  self.pem/.key     self-signed for 127.0.0.1
Prints the SHA-256 of self.pem's public key (what tlsPinSha256 holds).
"""
import hashlib
import os
import subprocess
import sys

OPENSSL = "/usr/bin/openssl"
EC = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


def run(*args, **kwargs):
    subprocess.run([OPENSSL, *args], check=True, stdout=subprocess.PIPE,
                   stderr=subprocess.PIPE, **kwargs)


def authority(d, name, cn):
    run("req", "-x509", *EC, "-keyout", os.path.join(d, name + ".key"),
        "-out", os.path.join(d, name + ".pem"), "-days", "2", "-subj", "/CN=" + cn,
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")


def issued(d, name, cn, san):
    key, csr, pem = (os.path.join(d, name + ext) for ext in (".key", ".csr", ".pem"))
    run("req", *EC, "-keyout", key, "-out", csr, "-subj", "/CN=" + cn)
    ext = os.path.join(d, name + ".ext")
    with open(ext, "w") as f:
        f.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\n" % san)
    run("x509", "-req", "-in", csr, "-CA", os.path.join(d, "ca.pem"),
        "-CAkey", os.path.join(d, "ca.key"), "-CAcreateserial", "-out", pem,
        "-days", "2", "-extfile", ext)


def main():
    d = sys.argv[1]
    authority(d, "ca", "Velmora Test CA")
    authority(d, "otherca", "Unrelated Test CA")
    issued(d, "server", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1")
    issued(d, "wrongname", "other.example", "DNS:other.example")
    run("req", "-x509", *EC, "-keyout", os.path.join(d, "self.key"),
        "-out", os.path.join(d, "self.pem"), "-days", "2", "-subj", "/CN=self-hosted",
        "-addext", "subjectAltName=IP:127.0.0.1")
    pub = subprocess.run([OPENSSL, "x509", "-in", os.path.join(d, "self.pem"), "-pubkey",
                          "-noout"], check=True, stdout=subprocess.PIPE).stdout
    der = subprocess.run([OPENSSL, "pkey", "-pubin", "-outform", "DER"], input=pub,
                         check=True, stdout=subprocess.PIPE).stdout
    print(hashlib.sha256(der).hexdigest())


if __name__ == "__main__":
    main()
