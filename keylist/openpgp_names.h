// The name shown for a key read from OpenPGP data: its primary user id,
// chosen only among user ids the key itself vouches for.
//
// Anyone can publish a copy of a key with user ids of their choosing, and
// anyone can attach a signature claiming to be the key's own. So a user id
// is a candidate only when it carries a verified self-certification (a
// certification by the primary key over the primary key and that user id),
// from any block of the key in the inputs, and no verified self-revocation
// (class 0x30 by the key itself) made at the same second or later than its
// latest self-certification. Among the candidates, as gpg chooses, those
// whose latest self-certification carries the primary-user-id flag come
// first; then the one with the latest self-certification; then the longer,
// then the greater bytes. A key with no candidate has no name: an unsigned
// name is never shown.
#pragma once

#include "openpgp_collection.h"

#include <cstdint>
#include <string>

// Chooses every key's primary user id. Run once the signatures are verified;
// the user ids and self-signatures are there only with keep_self_signatures.
void choose_user_ids(openpgp_collection& c);

// The primary user id choose_user_ids chose for the key (raw bytes, up to
// the length kept), or false when the key is not in the collection or has
// no user id with a valid self-certification.
bool primary_user_id(const openpgp_collection& c, uint64_t id, std::string& out);
