#!/usr/bin/env python3
"""Opens a PKCS #7 enveloped-data object with the openssl tool, step by step.

usage: open_envelope.py ENVELOPE.der RECIPIENT.pem RECIPIENT.key OUT

`openssl cms -decrypt` needs the content-encryption parameters (the IV) in the
object. Wine's CryptEncryptMessage writes the algorithm with NULL parameters
and encrypts with its key's default IV, which is all zeros. So this unwraps the
recipient's content-encryption key with `openssl pkeyutl` and decrypts the
content with `openssl enc`, taking the IV from the parameters when they hold
one and zeros otherwise. Prints the algorithm and where the IV came from.
"""
import subprocess
import sys
import tempfile

CIPHERS = {  # OID: (openssl enc name, block size)
    "1.2.840.113549.3.7": ("des-ede3-cbc", 8),
    "1.3.14.3.2.7": ("des-cbc", 8),
    "1.2.840.113549.3.2": ("rc2-cbc", 8),
    "2.16.840.1.101.3.4.1.2": ("aes-128-cbc", 16),
    "2.16.840.1.101.3.4.1.42": ("aes-256-cbc", 16),
}


def tlv(data, pos):
    """One DER element at pos: (tag, content start, content end)."""
    tag = data[pos]
    length = data[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, pos, pos + length


def children(data, start, end):
    out = []
    while start < end:
        tag, begin, stop = tlv(data, start)
        out.append((tag, begin, stop))
        start = stop
    return out


def oid_text(raw):
    first = raw[0]
    parts = [first // 40, first % 40]
    value = 0
    for byte in raw[1:]:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            parts.append(value)
            value = 0
    return ".".join(str(p) for p in parts)


def serial_of(cert_pem):
    out = subprocess.run(["openssl", "x509", "-noout", "-serial", "-in", cert_pem],
                         capture_output=True, text=True, check=True).stdout
    return int(out.strip().split("=")[1], 16)


def main():
    envelope_path, cert_pem, key_pem, out_path = sys.argv[1:5]
    data = open(envelope_path, "rb").read()
    _, ci_start, ci_end = tlv(data, 0)
    content_type, explicit = children(data, ci_start, ci_end)[:2]
    if oid_text(data[content_type[1]:content_type[2]]) != "1.2.840.113549.1.7.3":
        sys.exit("not enveloped-data")
    _, env_start, env_end = tlv(data, explicit[1])
    fields = children(data, env_start, env_end)
    recipients, content_info = fields[1], fields[2]

    wanted = serial_of(cert_pem)
    encrypted_key = None
    for _, r_start, r_end in children(data, recipients[1], recipients[2]):
        version, rid, _, key = children(data, r_start, r_end)[:4]
        serial = children(data, rid[1], rid[2])[1]
        if int.from_bytes(data[serial[1]:serial[2]], "big") == wanted:
            encrypted_key = data[key[1]:key[2]]
    if encrypted_key is None:
        sys.exit("no recipient with that certificate")

    _, algorithm, content = children(data, content_info[1], content_info[2])[:3]
    alg = children(data, algorithm[1], algorithm[2])
    oid = oid_text(data[alg[0][1]:alg[0][2]])
    name, block = CIPHERS[oid]
    iv = bytes(block)
    origin = "zero IV (no parameters)"
    if len(alg) > 1 and alg[1][0] == 0x04:
        iv = data[alg[1][1]:alg[1][2]]
        origin = "IV from the parameters"
    elif len(alg) > 1 and alg[1][0] == 0x30:  # RC2 parameters: version, IV
        rc2 = children(data, alg[1][1], alg[1][2])
        iv = data[rc2[-1][1]:rc2[-1][2]]
        origin = "IV from the RC2 parameters"

    if content[0] == 0xA0:  # constructed: the octet strings one after another
        ciphertext = b"".join(data[b:e] for _, b, e in children(data, content[1], content[2]))
    else:
        ciphertext = data[content[1]:content[2]]

    with tempfile.NamedTemporaryFile() as wrapped, tempfile.NamedTemporaryFile() as body:
        wrapped.write(encrypted_key)
        wrapped.flush()
        cek = subprocess.run(["openssl", "pkeyutl", "-decrypt", "-inkey", key_pem, "-in", wrapped.name,
                              "-pkeyopt", "rsa_padding_mode:pkcs1"],
                             capture_output=True, check=True).stdout
        if name == "rc2-cbc":
            name = {5: "rc2-40-cbc", 8: "rc2-64-cbc"}.get(len(cek), "rc2-cbc")
        body.write(ciphertext)
        body.flush()
        command = ["openssl", "enc", "-d", "-" + name, "-K", cek.hex(), "-iv", iv.hex(),
                   "-in", body.name, "-out", out_path]
        if name.startswith("rc2") or name == "des-cbc":
            command[2:2] = ["-provider", "legacy", "-provider", "default"]
        subprocess.run(command, check=True)
    print("%s, %d-byte key, %s" % (name, len(cek), origin))


if __name__ == "__main__":
    main()
