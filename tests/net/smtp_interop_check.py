"""Checks what the loopback SMTP server received from smtp_interop_tests, with Python's email.

smtp_interop_check.py SINKDIR    prints OK, or what differs, and exits non-zero on a difference.
"""
import datetime
import email
import email.policy
import email.utils
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_check  # noqa: E402


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check_report(sink):
    env = read(os.path.join(sink, "001.env")).decode().split("\n")
    if env[:2] != ["watch@example.com", "ops@example.com"]:
        return "envelope %r" % env
    # compat32 keeps the header texts exactly as we wrote them.
    msg = email.message_from_bytes(read(os.path.join(sink, "001.eml")),
                                   policy=email.policy.compat32)
    name, address = email.utils.parseaddr(msg["From"])
    if (name, address) != ("Pelorin", "watch@example.com"):
        return "From %r" % msg["From"]
    for header, wanted in (("To", "ops@example.com"), ("Subject", "Pelorin Status"),
                           ("X-Mailer", "sentrel.exe"), ("Mime-Version", "1.0")):
        if msg[header] != wanted:
            return "%s %r" % (header, msg[header])
    if msg.get_content_type() != "text/plain" or msg.get_content_charset() != "us-ascii":
        return "content type " + msg["Content-Type"]
    if msg["Reply-To"] is not None:
        return "Reply-To present"
    date = msg["Date"]
    if not date:
        return "no Date"
    try:
        sent = email.utils.parsedate_to_datetime(date)
    except (TypeError, ValueError) as error:
        return "Date %r: %s" % (date, error)
    if sent.tzinfo is None:
        return "Date %r without a zone" % date
    # The check runs right after the test that sent it; the bound allows a slow Wine start.
    age = datetime.datetime.now(datetime.timezone.utc) - sent
    if abs(age) > datetime.timedelta(minutes=10):
        return "Date %r is %s away from now" % (date, age)
    message_id = msg["Message-ID"] or ""
    if email.utils.parseaddr(message_id)[1].count("@") != 1 or not message_id.startswith("<"):
        return "Message-ID %r" % message_id
    lines = msg.get_payload().split("\r\n")
    wanted = ["", "Sites down ....", "---------------", "http://a.example/",
              "http://b.example/", "---------------"]
    if lines[:6] != wanted or lines[7:] != [""]:
        return "body %r" % lines
    if not lines[6].startswith("Pelorin - ") or len(lines[6]) <= len("Pelorin - "):
        return "last body line %r" % lines[6]
    return "OK"


def check_attachments(sink):
    env = read(os.path.join(sink, "002.env")).decode().split("\n")
    if env[:3] != ["watch@example.com", "ops@example.com", "hidden@example.com"]:
        return "envelope %r" % env
    raw = read(os.path.join(sink, "002.eml"))
    if b"hidden@example.com" in raw:
        return "blind copy recipient in the message"
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    body = msg.get_body(("plain",)).get_content()
    if ".a line with a dot" not in body.split("\n") and \
            ".a line with a dot\r" not in body.split("\n"):
        return "first part %r" % body
    return mail_check.check_mail(os.path.join(sink, "002.eml"),
                                 [os.path.join(sink, "every-byte.bin"),
                                  os.path.join(sink, "notes.txt")])


if __name__ == "__main__":
    results = [check_report(sys.argv[1]), check_attachments(sys.argv[1])]
    print(" / ".join(results))
    sys.exit(0 if results == ["OK", "OK"] else 1)
