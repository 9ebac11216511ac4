"""A real SMTP server for the delivery tests, on 127.0.0.1 (or ::1).

Prints the port it listens on as its first line, then serves until killed.
Every accepted message goes to DIR/NNN.eml (the bytes after DATA, unstuffed)
with its envelope in DIR/NNN.json; with --delay-data-reply, DIR/NNN.waiting
appears when the delay starts. With --capture, every byte a client sends
before any TLS is appended to DIR/wire.bin.
"""
import argparse
import asyncio
import base64
import json
import os
import re
import ssl
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--refuse-rcpt", default="", help="answer 550 to RCPT TO this address")
    p.add_argument("--refuse-text", default="5.1.1 No such user here",
                   help="the text of that 550")
    p.add_argument("--drop-at-data", action="store_true", help="close the connection on DATA")
    p.add_argument("--delay-data-reply", type=float, default=0.0,
                   help="seconds to wait before accepting the message")
    p.add_argument("--cert", default="", help="PEM certificate chain for TLS")
    p.add_argument("--key", default="", help="its private key")
    p.add_argument("--implicit-tls", action="store_true",
                   help="TLS from the start (as on port 465) instead of STARTTLS")
    p.add_argument("--require-tls-for-auth", action="store_true",
                   help="refuse AUTH before STARTTLS, as smtpd_tls_auth_only does")
    p.add_argument("--capture", action="store_true", help="write the raw client bytes to wire.bin")
    p.add_argument("--guard-fd", type=int, default=-1,
                   help="read end of a pipe the test holds open: its end (the test is gone, "
                        "however it ended) stops the server")
    p.add_argument("--pipelining", action="store_true", help="offer PIPELINING in the EHLO reply")
    p.add_argument("--oauth-user", default="",
                   help="offer XOAUTH2 and OAUTHBEARER for this login only")
    p.add_argument("--oauth-tokens", default="",
                   help="the file listing the access tokens that are valid now, one a line")
    p.add_argument("--answer-421", action="store_true",
                   help="answer every MAIL FROM with 421, as a server that is overloaded")
    p.add_argument("--close-after", type=int, default=0,
                   help="close a connection that took this many messages at its next MAIL")
    return p.parse_args()


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0
        self.connections = 0

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.args.answer_421:
            return "421 4.7.0 Too many connections, try again later"
        if not hasattr(session, "number"):
            self.connections += 1
            session.number = self.connections
            session.messages = 0
        # A client that pipelines has sent RCPT TO and DATA with MAIL FROM:
        # they wait, read, in the stream's buffer.
        envelope.pipelined = b"DATA" in bytes(getattr(server._reader, "_buffer", b""))
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address == self.args.refuse_rcpt:
            return "550 " + self.args.refuse_text
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.args.delay_data_reply:
            # Tests wait for this mark to act while the client awaits the reply.
            with open(os.path.join(self.args.dir, "%03d.waiting" % (self.count + 1)), "w"):
                pass
            await asyncio.sleep(self.args.delay_data_reply)
        # A client that sends the next envelope with the end of data: it is
        # read already, waiting in the stream's buffer.
        next_waiting = b"MAIL FROM" in bytes(getattr(server._reader, "_buffer", b""))
        self.count += 1
        stem = os.path.join(self.args.dir, "%03d" % self.count)
        with open(stem + ".eml", "wb") as f:
            f.write(envelope.original_content)
        session.messages += 1
        with open(stem + ".json", "w") as f:
            json.dump({"mailFrom": envelope.mail_from, "rcptTos": envelope.rcpt_tos,
                       "login": session.auth_data, "at": time.time(),
                       "connection": session.number, "pipelined": envelope.pipelined,
                       "nextEnvelopeWaiting": next_waiting}, f)
        return "250 2.0.0 Message accepted for delivery"


class PipeliningHandler(Handler):
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return responses[:-1] + ["250-PIPELINING", responses[-1]]


class DroppingSMTP(SMTP):
    async def smtp_DATA(self, arg):
        self.transport.close()


def closing_after(cls, count):
    # A server that ends connections that served enough, as many do.
    class ClosingAfter(cls):
        async def smtp_MAIL(self, arg):
            if getattr(self.session, "messages", 0) >= count:
                self.transport.close()
                return
            await super().smtp_MAIL(arg)
    return ClosingAfter


def capturing(cls, path):
    class Capturing(cls):
        def data_received(self, data):
            # Only the bytes of the plain socket: after STARTTLS the TLS
            # layer hands decrypted data to a new protocol path.
            if not self._tls_protocol:
                with open(path, "ab") as f:
                    f.write(data)
            super().data_received(data)
    return Capturing


XOAUTH2 = re.compile(rb"user=([^\x01]*)\x01auth=Bearer ([^\x01]+)\x01\x01")
OAUTHBEARER = re.compile(
    rb"n,a=([^,]*),\x01host=([^\x01]*)\x01port=([0-9]+)\x01auth=Bearer ([^\x01]+)\x01\x01")


def add_oauth(handler, args):
    """XOAUTH2 and OAUTHBEARER as the large providers answer them: the exact
    bytes or 501; a token not (or no longer) valid gets the error challenge
    (Base64 JSON), which the client must answer with an empty line (XOAUTH2)
    or 0x01 (OAUTHBEARER) before the 535."""
    def valid(token):
        with open(args.oauth_tokens, "rb") as f:
            return token in f.read().split()

    async def sign_in(server, arguments, pattern, dummy):
        if len(arguments) != 2:
            await server.push("501 5.5.2 initial response expected")
            return AuthResult(success=False, handled=True)
        match = pattern.fullmatch(base64.b64decode(arguments[1]))
        if match is None:
            await server.push("501 5.5.2 malformed OAuth response")
            return AuthResult(success=False, handled=True)
        login, token = match.group(1), match.groups()[-1]
        if pattern is OAUTHBEARER:
            host, port = match.group(2).decode(), int(match.group(3))
            if (host, port) != ("127.0.0.1", server.transport.get_extra_info("sockname")[1]):
                await server.push("501 5.5.2 wrong host or port")
                return AuthResult(success=False, handled=True)
        if login.decode() == args.oauth_user and valid(token):
            return AuthResult(success=True, auth_data=login.decode())
        error = json.dumps({"status": "401", "schemes": "bearer",
                            "scope": "https://mail.example/smtp"})
        answer = await server.challenge_auth(error)
        if answer != dummy:
            await server.push("501 5.5.2 the error challenge was answered wrongly")
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Username and Password not accepted")

    async def auth_XOAUTH2(server, arguments):
        return await sign_in(server, arguments, XOAUTH2, b"")

    async def auth_OAUTHBEARER(server, arguments):
        return await sign_in(server, arguments, OAUTHBEARER, b"\x01")

    handler.auth_XOAUTH2 = auth_XOAUTH2
    handler.auth_OAUTHBEARER = auth_OAUTHBEARER


def main():
    args = parse_args()
    handler = PipeliningHandler(args) if args.pipelining else Handler(args)
    if args.oauth_user:
        add_oauth(handler, args)

    def authenticator(server, session, envelope, mechanism, auth_data):
        if (isinstance(auth_data, LoginPassword) and auth_data.login.decode() == args.user
                and auth_data.password.decode() == args.password):
            return AuthResult(success=True, auth_data=auth_data.login.decode())
        # handled=False makes the server answer 535 itself.
        return AuthResult(success=False, handled=False)

    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    def factory():
        cls = DroppingSMTP if args.drop_at_data else SMTP
        if args.close_after:
            cls = closing_after(cls, args.close_after)
        if args.capture:
            cls = capturing(cls, os.path.join(args.dir, "wire.bin"))
        options = dict(hostname="test.server", auth_require_tls=args.require_tls_for_auth)
        if args.user or args.oauth_user:
            options.update(authenticator=authenticator, auth_required=True)
        if context is not None and not args.implicit_tls:
            options.update(tls_context=context)
        return cls(handler, **options)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, host=args.host, port=0, ssl=context if args.implicit_tls else None))
    if args.guard_fd >= 0:
        def guard_closed():
            if not os.read(args.guard_fd, 64):
                # Exit at once: a test that died leaves nobody to wait for us,
                # and an inherited output pipe held open would stall its runner.
                os._exit(0)
        loop.add_reader(args.guard_fd, guard_closed)
    print(server.sockets[0].getsockname()[1], flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
