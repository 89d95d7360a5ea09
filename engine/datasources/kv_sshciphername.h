// The protocol name of the SSH cipher that does not encrypt. The SSH options
// disable it unless the user enables it; the cipher table (ssh/kv_sshcipher.h)
// names its row with it.
#pragma once

inline constexpr char KV_SSH_CIPHER_NONE[] = "none";
