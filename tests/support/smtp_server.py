"""An SMTP server on 127.0.0.1 for the mail tests, built on aiosmtpd.

It offers AUTH PLAIN and CRAM-MD5 without TLS, and STARTTLS when given a certificate. Every
message it accepts is parsed with the email package and written to the output folder as
one file of length-prefixed fields ("name length\\n" + bytes + "\\n"), which the C++ tests
read. The verbs of every connection, whether or not it ends in a message, are in a file of
their own there ("NNNN.session", one line), written before each command is answered.
Started and stopped by tests/support/smtp_server.cpp; runs under /usr/bin/python3.
"""

import argparse
import asyncio
import email
import email.header
import email.policy
import email.utils
import hmac
import os
import signal
import ssl
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER, PASSWORD = "tim", "tanstaaftanstaaf"  # the only account


class Handler:
    def __init__(self, out_dir, user, password):
        self.out_dir = out_dir
        self.user = user.encode()
        self.password = password.encode()
        self.count = 0

    async def auth_CRAM__MD5(self, server, args):
        challenge = f"<{os.getpid()}.{time.time_ns()}@test.invalid>".encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False, handled=True)  # abandoned; 501 already sent
        user, _, digest = answer.rpartition(b" ")
        expected = hmac.new(self.password, challenge, "md5").hexdigest().encode()
        ok = user == self.user and hmac.compare_digest(digest, expected)
        return AuthResult(success=ok, handled=False, auth_data=LoginPassword(user, b""))

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        raw = envelope.original_content or envelope.content
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        login = session.login_data if session.authenticated else None
        fields = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": ",".join(envelope.rcpt_tos),
            "auth_user": login.decode("utf-8", "replace") if login else "",
            "tls": "1" if server._tls_protocol else "0",
            "ehlo": session.host_name or "",
            "commands": " ".join(server.commands_seen),
            "subject": str(msg["subject"]) if msg["subject"] is not None else "",
            "subject_count": str(len(msg.get_all("subject") or [])),
            "from": str(msg["from"]) if msg["from"] is not None else "",
            "to": str(msg["to"]) if msg["to"] is not None else "",
            "date": str(msg["date"]) if msg["date"] is not None else "",
            "content_type": msg.get_content_type(),
            "charset": msg.get_content_charset() or "",
            "cte": str(msg.get("content-transfer-encoding", "")),
            # Every defect the parser found, in any part or in the address and subject fields.
            "defects": str(sum(len(part.defects) for part in msg.walk()) +
                           sum(len(msg[f].defects) for f in ("subject", "from", "to") if msg[f])),
            "raw": raw.decode("utf-8", "replace"),
        }
        fields["names"] = display_names(raw)
        fields["parts"] = "\n".join(
            f"multipart {p.get_content_type()}" if p.is_multipart() else
            f"part {p.get_content_type()} {p.get_content_charset() or '-'} "
            f"{p.get_filename() or '-'} {p.get_payload(decode=True).hex()}" for p in msg.walk())
        try:
            fields["body"] = msg.get_content() if msg.get_content_maintype() == "text" else ""
        except Exception as error:  # a body that does not decode fails the test
            fields["body"] = ""
            fields["body_error"] = repr(error)
        path = os.path.join(self.out_dir, f"{self.count:04d}.msg")
        with open(path + ".tmp", "wb") as out:
            for name, value in fields.items():
                data = value.encode("utf-8", "surrogateescape")
                out.write(f"{name} {len(data)}\n".encode() + data + b"\n")
        os.rename(path + ".tmp", path)
        return "250 2.0.0 Message accepted"


def display_names(raw):
    """One "field hex-name address" line per From and To address, the name decoded as RFC 2047
    reads it (the newer header parser keeps a blank between adjacent encoded words)."""
    plain = email.message_from_bytes(raw)
    lines = []
    for field in ("from", "to"):
        for name, addr in email.utils.getaddresses(plain.get_all(field) or []):
            name = str(email.header.make_header(email.header.decode_header(name)))
            lines.append(f"{field} {name.encode().hex() or '-'} {addr}")
    return "\n".join(lines)


class RecordingSMTP(SMTP):
    """Remembers the verbs a client sent, in order, and writes them to the session file."""

    connections = 0

    def __init__(self, handler, *args, **kwargs):
        super().__init__(handler, *args, **kwargs)
        RecordingSMTP.connections += 1
        self.session_file = os.path.join(handler.out_dir,
                                         f"{RecordingSMTP.connections:04d}.session")
        self.commands_seen = []
        for verb, method in list(self._smtp_methods.items()):
            self._smtp_methods[verb] = self._recorded(verb, method)

    def _recorded(self, verb, method):
        async def recorded(arg):
            self.commands_seen.append(verb)
            with open(self.session_file + ".tmp", "w") as out:
                out.write(" ".join(self.commands_seen))
            os.rename(self.session_file + ".tmp", self.session_file)
            return await method(arg)
        return recorded


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data)
    return check


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--exclude", action="append", default=[],
                        help="an AUTH mechanism not to offer")
    args = parser.parse_args()

    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    handler = Handler(args.out_dir, USER, PASSWORD)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: RecordingSMTP(
            handler,
            hostname="test.invalid",
            auth_require_tls=False,
            authenticator=authenticator(USER, PASSWORD),
            tls_context=context,
            auth_exclude_mechanism=args.exclude,
            loop=loop,
        ),
        host="127.0.0.1",
        port=0,
    )
    port = server.sockets[0].getsockname()[1]
    with open(args.port_file + ".tmp", "w") as out:
        out.write(str(port))
    os.rename(args.port_file + ".tmp", args.port_file)

    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
