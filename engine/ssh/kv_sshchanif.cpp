#include "ssh/kv_sshchanif.h"

KV_SshChanIf::~KV_SshChanIf() = default;

KV_SshChanMapIf::~KV_SshChanMapIf() = default;
