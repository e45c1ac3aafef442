"""Independent checks of what the mail assembly writes, with Python's own email and base64.

mail_check.py mail MESSAGE ATTACHMENT...   parse a received message, compare each attachment
mail_check.py b64 DATA ENCODED             decode our Base64 lines, compare with the data
mail_check.py text MESSAGE TEXT            parse a one-part message, compare its decoded text
Prints OK, or what differs, and exits non-zero on a difference.
"""
import base64
import email
import email.policy
import os
import sys


def check_mail(message_path, attachments):
    with open(message_path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    if msg.get_content_type() != "multipart/mixed":
        return "content type " + msg.get_content_type()
    if msg.defects:
        return "defects %r" % msg.defects
    parts = list(msg.iter_parts())
    if len(parts) != 1 + len(attachments):
        return "%d parts" % len(parts)
    if parts[0].get_content_type() != "text/plain":
        return "first part " + parts[0].get_content_type()
    for part, path in zip(parts[1:], attachments):
        name = os.path.basename(path)
        if part.get_filename() != name or part.get_param("name") != name:
            return "file name %r, expected %r" % (part.get_filename(), name)
        if part.defects:
            return "part defects %r" % part.defects
        with open(path, "rb") as f:
            if part.get_payload(decode=True) != f.read():
                return "payload of " + name + " differs"
    return "OK"


def check_text(message_path, text_path):
    with open(message_path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    with open(text_path, "rb") as f:
        wanted = f.read().decode("utf-8")
    if msg.defects:
        return "defects %r" % msg.defects
    if msg.get_content_type() != "text/plain" or msg.get_content_charset() != "utf-8":
        return "content type %s; charset %s" % (msg.get_content_type(),
                                                msg.get_content_charset())
    for line in open(message_path, "rb"):
        if len(line.rstrip(b"\r\n")) > 76 or any(b >= 0x80 for b in line):
            return "line not 7-bit or longer than 76: %r" % line
    text = msg.get_content()
    return "OK" if text == wanted else "text %r, expected %r" % (text, wanted)


def check_b64(data_path, encoded_path):
    with open(data_path, "rb") as f:
        data = f.read()
    with open(encoded_path, "rb") as f:
        encoded = f.read()
    wanted = base64.b64encode(data)
    lines = b"".join(wanted[i:i + 60] + b"\r\n" for i in range(0, len(wanted), 60))
    if encoded != lines:
        return "encoding differs"
    if base64.b64decode(encoded.replace(b"\r\n", b""), validate=True) != data:
        return "decoding differs"
    return "OK"


if __name__ == "__main__":
    checks = {"mail": lambda: check_mail(sys.argv[2], sys.argv[3:]),
              "text": lambda: check_text(sys.argv[2], sys.argv[3]),
              "b64": lambda: check_b64(sys.argv[2], sys.argv[3])}
    result = checks[sys.argv[1]]()
    print(result)
    sys.exit(0 if result == "OK" else 1)
