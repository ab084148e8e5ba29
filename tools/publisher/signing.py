"""ECDSA P-256 through the openssl command: keys, signatures and their
formats."""

import base64
import os
import subprocess
import tempfile


# SubjectPublicKeyInfo of a P-256 key up to the uncompressed point's 0x04.
P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200") + b"\x04"


class SigningError(Exception):
    pass


def openssl(*args, data=None):
    try:
        done = subprocess.run(["openssl", *args], input=data, capture_output=True)
    except FileNotFoundError:
        raise SigningError("the openssl command is missing (apt-get install openssl)")
    if done.returncode != 0:
        raise SigningError(f"openssl {args[0]}: {done.stderr.decode(errors='replace').strip()}")
    return done.stdout


def public_key(key_file):
    """The 88-character manifest key of a PEM key file (private or public)."""
    der = openssl("pkey", "-in", key_file, "-pubout", "-outform", "DER")
    if len(der) != len(P256_SPKI_PREFIX) + 64 or not der.startswith(P256_SPKI_PREFIX):
        raise SigningError(f"{key_file} is not a P-256 key (make one with: tvl_publish.py keygen KEYFILE)")
    return base64.b64encode(der[-64:]).decode("ascii")


def der_integer(data, pos):
    if data[pos] != 0x02 or data[pos + 1] > 33:
        raise SigningError("openssl wrote a signature this tool does not understand")
    length = data[pos + 1]
    return int.from_bytes(data[pos + 2:pos + 2 + length], "big"), pos + 2 + length


def raw_signature(der):
    """r||s, 32 bytes each, from a DER SEQUENCE of two INTEGERs."""
    if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
        raise SigningError("openssl wrote a signature this tool does not understand")
    r, pos = der_integer(der, 2)
    s, _ = der_integer(der, pos)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def der_signature(raw):
    def integer(value):
        body = value.lstrip(b"\0") or b"\0"
        if body[0] & 0x80:
            body = b"\0" + body
        return b"\x02" + bytes([len(body)]) + body
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def sign(data, key_file):
    """The .sig body for data: base64 of r||s and one line end."""
    raw = raw_signature(openssl("dgst", "-sha256", "-sign", key_file, data=data))
    return base64.b64encode(raw) + b"\n"


def decode_key_text(text):
    """The 64 bytes X||Y of an 88-character key, strictly, as the launcher reads it."""
    text = text.strip()
    if text.startswith("manifest_key="):
        text = text[len("manifest_key="):]
    if len(text) != 88:
        raise SigningError("a manifest key is 88 base64 characters")
    try:
        xy = base64.b64decode(text, validate=True)
    except ValueError:
        raise SigningError("the manifest key is not base64")
    if len(xy) != 64 or base64.b64encode(xy).decode() != text:
        raise SigningError("the manifest key is not the base64 of 64 bytes")
    return xy


def read_key(key):
    """KEY of the verify command: the key itself, a manifest_key= line, or a
    file holding one or a PEM key."""
    if os.path.isfile(key):
        with open(key, "rb") as f:
            content = f.read()
        if b"-----BEGIN" in content:
            return decode_key_text(public_key(key))
        for line in content.decode("utf-8", errors="replace").splitlines():
            if line.startswith("manifest_key="):
                return decode_key_text(line)
        raise SigningError(f"{key} holds no manifest_key= line and no PEM key")
    return decode_key_text(key)


def signature_verifies(data, sig_body, xy):
    """Is sig_body a .sig as the launcher accepts it, signing data under X||Y?"""
    text = sig_body[:-2] if sig_body.endswith(b"\r\n") else sig_body[:-1] if sig_body.endswith(b"\n") else sig_body
    try:
        raw = base64.b64decode(text, validate=True)
    except ValueError:
        return False
    if len(text) != 88 or len(raw) != 64 or base64.b64encode(raw) != text:
        return False
    pem = (b"-----BEGIN PUBLIC KEY-----\n" + base64.encodebytes(P256_SPKI_PREFIX + xy) +
           b"-----END PUBLIC KEY-----\n")
    with tempfile.TemporaryDirectory() as tmp:
        paths = {name: os.path.join(tmp, name) for name in ("key.pem", "sig.der", "data")}
        for name, content in (("key.pem", pem), ("sig.der", der_signature(raw)), ("data", data)):
            with open(paths[name], "wb") as f:
                f.write(content)
        done = subprocess.run(["openssl", "dgst", "-sha256", "-verify", paths["key.pem"], "-signature",
                               paths["sig.der"], paths["data"]], capture_output=True)
    return done.returncode == 0
