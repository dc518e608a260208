"""Certificates made at test time: a trusted CA and an untrusted one, and what
each signs: server certificates (good, expired, for another name) and client
certificates. All keys are P-256, written as PEM files into one folder."""

from __future__ import annotations

import datetime
import ipaddress
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Sequence, Tuple

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

# Names the good server certificate holds: the usual loopback names, and one a
# client can only reach by sending it as the server name.
SERVER_NAMES = ("localhost", "gateway.test")
SERVER_ADDRESSES = ("127.0.0.1", "::1")


@dataclass(frozen=True)
class Pair:
    cert: Path
    key: Path


@dataclass(frozen=True)
class Certificates:
    ca: Path  # the CA the clients trust
    untrusted_ca: Path
    server: Pair  # for SERVER_NAMES and SERVER_ADDRESSES, signed by `ca`
    expired: Pair  # the same names, expired yesterday
    wrong_name: Pair  # for "elsewhere.test" only
    untrusted_server: Pair  # the good names, signed by `untrusted_ca`
    client: Pair  # a client certificate signed by `ca`
    untrusted_client: Pair  # one signed by `untrusted_ca`


_Signer = Tuple[x509.Certificate, ec.EllipticCurvePrivateKey]


def _name(common_name: str) -> x509.Name:
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)])


def _issue(
    subject: str,
    issuer: Optional[_Signer],
    *,
    names: Sequence[str] = (),
    addresses: Sequence[str] = (),
    client: bool = False,
    expired: bool = False,
) -> _Signer:
    """A certificate and its key; without `issuer`, a self-signed CA."""
    key = ec.generate_private_key(ec.SECP256R1())
    now = datetime.datetime.now(datetime.timezone.utc)
    not_before, not_after = (now - datetime.timedelta(days=30), now - datetime.timedelta(days=1)) if expired else (
        now - datetime.timedelta(hours=1), now + datetime.timedelta(days=30))
    signer_cert, signer_key = issuer if issuer is not None else (None, key)
    builder = (
        x509.CertificateBuilder()
        .subject_name(_name(subject))
        .issuer_name(signer_cert.subject if signer_cert is not None else _name(subject))
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(not_before)
        .not_valid_after(not_after)
        .add_extension(x509.BasicConstraints(ca=issuer is None, path_length=None), critical=True)
    )
    if issuer is None:
        builder = builder.add_extension(
            x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True, content_commitment=False,
                          key_encipherment=False, data_encipherment=False, key_agreement=False,
                          encipher_only=False, decipher_only=False),
            critical=True,
        ).add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False)
    else:
        usage = ExtendedKeyUsageOID.CLIENT_AUTH if client else ExtendedKeyUsageOID.SERVER_AUTH
        builder = builder.add_extension(x509.ExtendedKeyUsage([usage]), critical=False).add_extension(
            x509.AuthorityKeyIdentifier.from_issuer_public_key(signer_key.public_key()), critical=False)
    alternatives = [x509.DNSName(n) for n in names] + [x509.IPAddress(ipaddress.ip_address(a)) for a in addresses]
    if alternatives:
        builder = builder.add_extension(x509.SubjectAlternativeName(alternatives), critical=False)
    return builder.sign(signer_key, hashes.SHA256()), key


def _write(folder: Path, stem: str, issued: _Signer) -> Pair:
    cert, key = issued
    pair = Pair(folder / f"{stem}.pem", folder / f"{stem}.key")
    pair.cert.write_bytes(cert.public_bytes(serialization.Encoding.PEM))
    pair.key.write_bytes(key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
    pair.key.chmod(0o600)  # stunnel warns about a key others can read
    return pair


def make_certificates(folder: Path) -> Certificates:
    ca, untrusted_ca = _issue("orvik test CA", None), _issue("untrusted test CA", None)

    def server(issuer: _Signer, expired: bool = False) -> _Signer:
        return _issue("localhost", issuer, names=SERVER_NAMES, addresses=SERVER_ADDRESSES, expired=expired)

    return Certificates(
        ca=_write(folder, "ca", ca).cert,
        untrusted_ca=_write(folder, "untrusted-ca", untrusted_ca).cert,
        server=_write(folder, "server", server(ca)),
        expired=_write(folder, "expired", server(ca, expired=True)),
        wrong_name=_write(folder, "wrong-name", _issue("elsewhere.test", ca, names=["elsewhere.test"])),
        untrusted_server=_write(folder, "untrusted-server", server(untrusted_ca)),
        client=_write(folder, "client", _issue("operator", ca, client=True)),
        untrusted_client=_write(folder, "untrusted-client", _issue("operator", untrusted_ca, client=True)),
    )
