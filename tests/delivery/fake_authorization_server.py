"""A fake OAuth provider for the sign-in tests, over HTTPS on 127.0.0.1.

Prints its port as its first line, then serves until killed (or until the
guard descriptor closes). It checks what a real provider checks: the client
ID (and secret when given), the redirect address, the state, and the PKCE
code_verifier against the code_challenge. Access tokens it issues are
listed in DIR/valid-tokens, which the test SMTP server reads; a test that
empties the file has "expired" them early. DIR/refuse-refresh makes every
refresh fail with invalid_grant. Each token request is noted in
DIR/requests (its grant type), never with a token.
"""
import argparse
import base64
import hashlib
import json
import os
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

args = None
codes = {}
refresh_tokens = set()
devices = {}
counter = [0]
lock = threading.Lock()


def fresh(prefix):
    with lock:
        counter[0] += 1
        return "%s-%d-%s" % (prefix, counter[0], base64.urlsafe_b64encode(os.urandom(6)).decode())


def note(line):
    with open(os.path.join(args.dir, "requests"), "a") as f:
        f.write(line + "\n")


def issue_tokens(with_refresh=True):
    access = fresh("at")
    with open(os.path.join(args.dir, "valid-tokens"), "a") as f:
        f.write(access + "\n")
    answer = {"access_token": access, "token_type": "Bearer", "expires_in": args.lifetime,
              "scope": args.scope, "ignored": {"nested": [1, 2]}}
    if with_refresh:
        refresh = fresh("rt")
        refresh_tokens.add(refresh)
        answer["refresh_token"] = refresh
    if args.login:
        claims = base64.urlsafe_b64encode(json.dumps({"email": args.login}).encode()).decode()
        answer["id_token"] = "e30." + claims.rstrip("=") + ".sig"
    return answer


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *a):
        pass

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode() if isinstance(body, dict) else body.encode()
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Type",
                         "application/json" if isinstance(body, dict) else "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        if url.path != "/authorize":
            return self.reply(404, "no such page")
        redirect = q.get("redirect_uri", "")
        problems = []
        if q.get("client_id") != args.client_id:
            problems.append("client_id")
        if not redirect.startswith("http://127.0.0.1:"):
            problems.append("redirect_uri")
        if q.get("response_type") != "code" or q.get("code_challenge_method") != "S256":
            problems.append("response_type or code_challenge_method")
        if not q.get("state") or len(q.get("code_challenge", "")) != 43:
            problems.append("state or code_challenge")
        if q.get("scope") != args.scope:
            problems.append("scope")
        if problems:
            return self.reply(400, "bad authorization request: " + ", ".join(problems))
        code = fresh("code")
        codes[code] = (q["code_challenge"], redirect)
        target = redirect + "?" + urllib.parse.urlencode({"code": code, "state": q["state"]})
        self.reply(302, "", [("Location", target)])

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        path = urllib.parse.urlsplit(self.path).path
        if form.get("client_id") != args.client_id or (
                args.client_secret and form.get("client_secret") != args.client_secret):
            return self.reply(401, {"error": "invalid_client"})
        if path == "/device":
            device = fresh("dev")
            devices[device] = 0
            return self.reply(200, {"device_code": device, "user_code": "WDJB-MJHT",
                                    "verification_uri": "https://127.0.0.1/device",
                                    "expires_in": 600, "interval": 1})
        if path != "/token":
            return self.reply(404, {"error": "not_found"})
        grant = form.get("grant_type", "")
        note(grant)
        if grant == "authorization_code":
            entry = codes.pop(form.get("code", ""), None)
            if entry is None:
                return self.reply(400, {"error": "invalid_grant",
                                        "error_description": "unknown or used code"})
            challenge, redirect = entry
            verifier = form.get("code_verifier", "")
            computed = base64.urlsafe_b64encode(
                hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")
            if computed != challenge or form.get("redirect_uri") != redirect:
                return self.reply(400, {"error": "invalid_grant",
                                        "error_description": "verifier or redirect_uri"})
            return self.reply(200, issue_tokens())
        if grant == "refresh_token":
            if (os.path.exists(os.path.join(args.dir, "refuse-refresh"))
                    or form.get("refresh_token") not in refresh_tokens):
                return self.reply(400, {"error": "invalid_grant",
                                        "error_description": "Token has been expired or revoked.",
                                        "error_codes": [70008]})
            return self.reply(200, issue_tokens(with_refresh=False))
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            device = form.get("device_code", "")
            if device not in devices:
                return self.reply(400, {"error": "expired_token"})
            devices[device] += 1
            if devices[device] < 2:
                return self.reply(400, {"error": "authorization_pending"})
            del devices[device]
            return self.reply(200, issue_tokens())
        return self.reply(400, {"error": "unsupported_grant_type"})


def main():
    global args
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--client-id", default="test-client")
    p.add_argument("--client-secret", default="")
    p.add_argument("--scope", default="https://mail.example/smtp")
    p.add_argument("--login", default="")
    p.add_argument("--lifetime", type=int, default=3600)
    p.add_argument("--guard-fd", type=int, default=-1)
    args = p.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    if args.guard_fd >= 0:
        def watch():
            while os.read(args.guard_fd, 64):
                pass
            os._exit(0)
        threading.Thread(target=watch, daemon=True).start()
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
