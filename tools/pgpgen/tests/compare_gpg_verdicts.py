#!/usr/bin/env python3
"""Compares gpg's verdicts on a generated dump with what pgpgen meant.

usage: compare_gpg_verdicts.py MANIFEST CHECK_SIGS_LISTING

Every signature the manifest calls valid must be listed by gpg with "!",
every forged one with "-" (gpg 2.2 says "?" instead for a signature by an
expired or revoked key, which it does not look up: allowed); a signature by a key not in the dump must not be
"!", nor one hashed with MD5. Prints the counts; exits 1 on any difference.
"""
import collections
import sys

manifest_path, listing_path = sys.argv[1], sys.argv[2]
meant = {}
for line in open(manifest_path, encoding="ascii"):
    signed, signer, created, sig_class, meaning = line.split()
    meant[(signed, signer, created, sig_class)] = meaning

seen = {}
key_validity = {}
key = None
for line in open(listing_path, encoding="utf-8", errors="replace"):
    fields = line.rstrip("\n").split(":")
    if fields[0] == "pub":
        key = fields[4]
        key_validity[key] = fields[1]
    elif fields[0] in ("sig", "rev") and key is not None:
        seen[(key, fields[4], fields[5], fields[10][:2])] = fields[1]

wanted = {"valid": "!", "forged": "-"}
failures = []
tally = collections.Counter()
for entry, meaning in sorted(meant.items()):
    verdict = seen.get(entry)
    tally[(meaning, verdict)] += 1
    signer_gone = key_validity.get(entry[1]) in ("e", "r")
    if meaning in wanted and verdict != wanted[meaning] and not (verdict == "?" and signer_gone):
        failures.append(f"{' '.join(entry)} {meaning}: gpg says {verdict}")
    if meaning not in wanted and verdict == "!":
        failures.append(f"{' '.join(entry)} {meaning}: gpg says it verifies")

for (meaning, verdict), count in sorted(tally.items(), key=str):
    print(f"{meaning:18} gpg {verdict}: {count}")
for failure in failures[:20]:
    print("MISMATCH", failure)
if tally[("valid", "!")] == 0 or tally[("forged", "-")] == 0:
    print("nothing compared")
    sys.exit(1)
sys.exit(1 if failures else 0)
