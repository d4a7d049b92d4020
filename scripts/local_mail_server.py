#!/usr/bin/python3
"""A local SMTP server for the tests and the demo (Debian's python3-aiosmtpd).

    local_mail_server.py MODE MAILBOX [PORT]

Listens on 127.0.0.1 (PORT, or one the system picks), prints the port on the
first line of standard output, and serves until it is terminated. Every
accepted message lands in MAILBOX as N.eml (as received), N.txt (its text
part, decoded) and N.env (the envelope: HELO/EHLO, MAIL FROM, RCPT TO), each
file complete before the server acknowledges the message.

MODE: accept      take every message
      reject-rcpt answer RCPT TO with 550
      tempfail    answer the end of DATA with 451
      drop        close the connection when the message has arrived, unanswered
      hold        as accept, but the message's 250 waits until MAILBOX/N.release
                  exists (a test changes the world while the sender waits)
"""
import asyncio
import email
import email.policy
import os
import signal
import sys

from aiosmtpd.smtp import SMTP


def write_file(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Handler:
    def __init__(self, mode, mailbox):
        self.mode = mode
        self.mailbox = mailbox
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.mode == "reject-rcpt":
            return "550 5.1.1 <%s>: no such mailbox here" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.mode == "tempfail":
            return "451 4.3.0 mailbox busy, try again later"
        if self.mode == "drop":
            server.transport.abort()
            return "250 never sent"
        self.count += 1
        base = os.path.join(self.mailbox, str(self.count))
        raw = envelope.original_content or envelope.content
        message = email.message_from_bytes(raw, policy=email.policy.default)
        part = message.get_body(preferencelist=("plain",))
        text = part.get_payload(decode=True) if part is not None else b""
        envelope_text = "helo=%s\nesmtp=%d\nfrom=%s\nto=%s\nsubject=%s\n" % (
            session.host_name, 1 if session.extended_smtp else 0, envelope.mail_from,
            ",".join(envelope.rcpt_tos), message["subject"])
        write_file(base + ".txt", text)
        write_file(base + ".env", envelope_text.encode("utf-8", "surrogateescape"))
        write_file(base + ".eml", raw)
        while self.mode == "hold" and not os.path.exists(base + ".release"):
            await asyncio.sleep(0.02)
        return "250 2.0.0 OK queued as %d" % self.count


async def main():
    mode, mailbox = sys.argv[1], sys.argv[2]
    port = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    os.makedirs(mailbox, exist_ok=True)
    handler = Handler(mode, mailbox)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="mail.localhost", decode_data=False), "127.0.0.1", port)
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    await stop.wait()
    server.close()


if __name__ == "__main__":
    asyncio.run(main())
