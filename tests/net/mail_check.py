"""Independent checks of what the mail assembly writes, with Python's own email and base64.

mail_check.py mail MESSAGE ATTACHMENT...   parse a received message, compare each attachment
mail_check.py b64 DATA ENCODED             decode our Base64 lines, compare with the data
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
    result = check_mail(sys.argv[2], sys.argv[3:]) if sys.argv[1] == "mail" else check_b64(
        sys.argv[2], sys.argv[3])
    print(result)
    sys.exit(0 if result == "OK" else 1)
