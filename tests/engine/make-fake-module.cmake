# Writes a stand-in self-extractor module: distinctive bytes of an odd length,
# so misplaced pieces in an output show up in a byte comparison.
string(REPEAT "QUILLON-TEST-MODULE-0123456789abcdef\n" 111 body)
file(WRITE "${OUT}" "MZ fake self-extractor module\n${body}END")
