"""Reads what the SMTP server received during the end-to-end scenario with Python's email package.

e2e_mail_check.py SINKDIR
SINKDIR/expected.txt, written by the scenario, holds the recipient on its first line and then
the failed URLs in the order the report must list them. Exactly one message must have arrived.
Prints OK, or what differs, and exits non-zero on a difference.
"""
import email
import email.policy
import glob
import os
import sys


def check(sink):
    expected_path = os.path.join(sink, "expected.txt")
    if not os.path.exists(expected_path):
        return "the scenario wrote no expectation"
    with open(expected_path) as f:
        lines = f.read().splitlines()
    recipient, urls = lines[0], lines[1:]
    mails = sorted(glob.glob(os.path.join(sink, "*.eml")))
    if len(mails) != 1:
        return "%d messages received, expected one" % len(mails)
    with open(mails[0], "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    if msg.defects:
        return "defects %r" % msg.defects
    if msg["Subject"] != "Pelorin Status":
        return "subject %r" % msg["Subject"]
    if msg.get_content_type() != "text/plain":
        return "content type " + msg.get_content_type()
    to = [a.addr_spec for a in msg["To"].addresses]
    if to != [recipient]:
        return "To %r" % to
    with open(mails[0][:-4] + ".env") as f:
        envelope = f.read().splitlines()
    if envelope[1:] != [recipient]:
        return "envelope recipients %r" % envelope[1:]
    body = msg.get_content().splitlines()
    try:
        first = body.index("---------------")
        last = body.index("---------------", first + 1)
    except ValueError:
        return "no separator lines in %r" % body
    if body[first + 1:last] != urls:
        return "listed %r, expected %r" % (body[first + 1:last], urls)
    return "OK"


if __name__ == "__main__":
    result = check(sys.argv[1])
    print("mail check: " + result)
    sys.exit(0 if result == "OK" else 1)
