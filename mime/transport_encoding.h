// Makes a part tree safe for any mail relay, so that a signature over its
// serialised text still holds after transport.
#pragma once

class MimePart;

// Gives every leaf part whose body has 8-bit bytes, a line over 76
// characters, a blank or tab before a line end, or a line starting with
// "From " a 7-bit transfer encoding: quoted-printable for text (and untyped)
// parts, Base64 for the rest; a part already in either, or in an encoding of
// its own, is left as it is. Trailing blanks of header lines, preambles and
// epilogues, which carry no content, are dropped. Every part keeps one
// Content-Type and one Content-Transfer-Encoding (the last). root's body runs
// to the end of its text; the bodies of the parts below it end in the CR LF
// that belongs to the next delimiter. False when memory runs out.
bool EncodeForTransport(MimePart* root);
